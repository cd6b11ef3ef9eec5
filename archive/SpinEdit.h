#pragma once
// A spin box changed by its arrows only: its text cannot be typed.
#include <QLineEdit>
#include <QSpinBox>

class TSpinEdit : public QSpinBox {
public:
    explicit TSpinEdit(QWidget* parent = nullptr) : QSpinBox(parent) { lineEdit()->setReadOnly(true); }
};
