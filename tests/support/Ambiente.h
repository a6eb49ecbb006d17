#pragma once
// An environment variable changed for one test, for the processes it starts,
// and put back as it was at the end of the scope.

#include <QByteArray>

#include <memory>
#include <string>
#include <vector>

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

// Each NAME=value of `ambiente`, for one test.
inline std::vector<std::unique_ptr<VariabileDiProva>> ambienteDiProva(const std::vector<std::string>& ambiente)
{
    std::vector<std::unique_ptr<VariabileDiProva>> variabili;
    for (const std::string& e : ambiente) {
        const auto uguale = e.find('=');
        variabili.push_back(std::make_unique<VariabileDiProva>(QByteArray::fromStdString(e.substr(0, uguale)),
                                                               QByteArray::fromStdString(e.substr(uguale + 1))));
    }
    return variabili;
}

} // namespace sonora::test
