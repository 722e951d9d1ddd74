#pragma once
#include <QSpinBox>

// A page-number spin box that takes any number typed: one beyond either
// end is brought back to that end when the typing ends (Enter, focus out).
class TPageSpinBox : public QSpinBox {
    Q_OBJECT
public:
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& input, int& pos) const override
    {
        const QValidator::State state = QSpinBox::validate(input, pos);
        if (state != QValidator::Invalid)
            return state;
        bool number = false;
        input.toInt(&number);
        return number ? QValidator::Intermediate : QValidator::Invalid;
    }
    void fixup(QString& input) const override
    {
        bool number = false;
        const int value = input.toInt(&number);
        if (number)
            input = QString::number(std::clamp(value, minimum(), maximum()));
    }
};
