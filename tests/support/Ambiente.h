#pragma once
// An environment variable changed for one test, for the processes it starts,
// and put back as it was at the end of the scope.

#include <QByteArray>

namespace sonora::test {

class VariabileDiProva {
public:
    // A null `valore` removes the variable.
    VariabileDiProva(const QByteArray& nome, const QByteArray& valore)
        : nome_(nome)
        , prima_(qgetenv(nome.constData()))
    {
        imposta(valore);
    }
    ~VariabileDiProva() { imposta(prima_); }

    VariabileDiProva(const VariabileDiProva&) = delete;
    VariabileDiProva& operator=(const VariabileDiProva&) = delete;

private:
    void imposta(const QByteArray& valore)
    {
        valore.isNull() ? qunsetenv(nome_.constData()) : qputenv(nome_.constData(), valore);
    }

    QByteArray nome_;
    QByteArray prima_;
};

} // namespace sonora::test
