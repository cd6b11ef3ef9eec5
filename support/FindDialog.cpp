#include "support/FindDialog.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TFindDialog::TFindDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Find"));
    setModal(false);
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);

    auto* label = new QLabel(tr("Fi&nd what:"), this);
    EditFind = new QLineEdit(this);
    label->setBuddy(EditFind);
    CheckMatchCase = new QCheckBox(tr("Match &case"), this);
    ButtonFindNext = new QPushButton(tr("&Find Next"), this);
    ButtonCancel = new QPushButton(tr("Cancel"), this);
    ButtonFindNext->setDefault(true);
    ButtonFindNext->setEnabled(false);

    auto* left = new QVBoxLayout;
    auto* findRow = new QHBoxLayout;
    findRow->addWidget(label);
    findRow->addWidget(EditFind, 1);
    left->addLayout(findRow);
    left->addWidget(CheckMatchCase);
    left->addStretch(1);
    auto* right = new QVBoxLayout;
    right->addWidget(ButtonFindNext);
    right->addWidget(ButtonCancel);
    right->addStretch(1);
    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(right);

    // As with the system's own find dialog, there is nothing to find without a text.
    connect(EditFind, &QLineEdit::textChanged, this,
            [this](const QString& text) { ButtonFindNext->setEnabled(!text.isEmpty()); });
    connect(ButtonFindNext, &QPushButton::clicked, this, &TFindDialog::FindNextClick);
    connect(ButtonCancel, &QPushButton::clicked, this, &QDialog::hide);
}

TFindOptions TFindDialog::Options() const
{
    return (findNext_ ? frFindNext : 0u) | (CheckMatchCase->isChecked() ? frMatchCase : 0u);
}

void TFindDialog::SetOptions(TFindOptions options)
{
    findNext_ = (options & frFindNext) != 0;
    CheckMatchCase->setChecked((options & frMatchCase) != 0);
}

QString TFindDialog::FindText() const { return EditFind->text(); }

void TFindDialog::SetFindText(const QString& text) { EditFind->setText(text); }

void TFindDialog::Execute()
{
    show();
    raise();
    activateWindow();
    EditFind->setFocus();
    EditFind->selectAll();
}

void TFindDialog::FindNextClick()
{
    if (EditFind->text().isEmpty())
        return;
    findNext_ = true;
    if (OnFind)
        OnFind();
}
