#pragma once
// A label whose caption may break lines with CR, LF, CR LF or LF CR: each
// pair counts as one line break, so the caption can be stored exactly as
// given while it shows as the lines a reader expects.

#include <QLabel>

namespace sonora {

class Label : public QLabel {
    Q_OBJECT
public:
    explicit Label(QWidget* parent = nullptr) : QLabel(parent) { setTextFormat(Qt::PlainText); }

    void setCaption(const QString& caption);
    const QString& caption() const { return caption_; }

private:
    QString caption_;
};

} // namespace sonora
