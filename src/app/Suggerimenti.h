#pragma once
// The status-bar hints, also the descriptions screen readers give of the
// controls, so the two never disagree.

#include <QString>

namespace sonora::suggerimento {

inline const QString Check1 = QStringLiteral("Ripete automaticamente la lista delle canzoni");
inline const QString Check2 = QStringLiteral("Disattiva il test di intelligenza");
inline const QString cmdCompilation = QStringLiteral("Apre una compilation esistente");
inline const QString cmdFine = QStringLiteral("Esce dal programma");
inline const QString cmdNuova = QStringLiteral("Crea una nuova compilation");
inline const QString lblNomeCompilation = QStringLiteral("Titolo della compilation aperta");
inline const QString List1 = QStringLiteral("Elenco delle canzoni contenute nella compilation");
inline const QString ProgressBar1 = QStringLiteral("Progresso della canzone");

} // namespace sonora::suggerimento
