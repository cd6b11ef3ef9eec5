// Meta keys: fourteen buttons in three banks sending the commands of the grid.
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "app/Unit1Ui.h"
#include "core/MetaKeyFile.h"
#include "serial/SerialNG.h"
#include "support/CodePage.h"

#include <QGroupBox>
#include <QPushButton>
#include <stdexcept>

namespace {

const char* const kMetaKeyFile = "MetaKey.ini";
const QString kCRMarker = QStringLiteral("^M");

std::string CellBytes(const TStringGrid* grid, int column, int row)
{
    return CodePage::ToBytes(grid->Cells(column, row));
}

}  // namespace

void TForm1::LayOutMetaKeys()
{
    try {
        ReadMetaKeyFile();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());  // the keys stay usable with what was read
    }
    ui_->MetaSW->setText(QString::number(MetaBank + 1));
    PlaceMetaKeys(width());
    CaptionMetaKeys();
}

void TForm1::PlaceMetaKeys(int windowWidth)
{
    Ui& u = *ui_;
    u.GroupBox1->resize(windowWidth - 16, u.GroupBox1->height());
    MetaStep = uint16_t((u.GroupBox1->width() - 50) / 14);
    u.GroupBox1->resize(MetaStep * 14 + 53, u.GroupBox1->height());
    for (int t = 1; t <= 14; ++t) {
        QPushButton* key = u.meta[size_t(t)];
        key->setGeometry(50 + (t - 1) * MetaStep, key->y(), MetaStep - 2, key->height());
    }
}

void TForm1::CaptionMetaKeys()
{
    for (int t = 1; t <= 14; ++t)
        ui_->meta[size_t(t)]->setText(ui_->StringGrid1->Cells(1, MetaBank * 14 + t));
}

void TForm1::MetaClick(int tag)
{
    const int row = MetaBank * 14 + tag;
    std::string command = CellBytes(ui_->StringGrid1, 2, row);
    if (ui_->StringGrid1->Cells(3, row) == kCRMarker)
        command += '\r';
    ui_->Memo1->setFocus();
    if (RefuseWhileLost())
        return;
    SerialPortNG1->SendText(command);
    LogSent("meta:" + std::to_string(MetaBank + 1) + ":" + std::to_string(tag), command);
}

void TForm1::MetaSWClick()
{
    MetaBank = MetaBank < 2 ? uint8_t(MetaBank + 1) : uint8_t(0);
    ui_->MetaSW->setText(QString::number(MetaBank + 1));
    CaptionMetaKeys();
    ui_->Memo1->setFocus();
}

void TForm1::StringGrid1DblClick()
{
    TStringGrid* grid = ui_->StringGrid1;
    if (grid->Col() != 3)
        return;
    const int row = grid->Row();
    grid->SetCells(3, row, grid->Cells(3, row) == kCRMarker ? QString() : kCRMarker);
}

void TForm1::ReadMetaKeyFile()
{
    std::string problem;
    const std::vector<TMetaKeyRecord> records = LoadMetaKeyRecords(kMetaKeyFile, problem);
    for (size_t i = 0; i < records.size(); ++i) {
        const int row = int(i) + 1;
        ui_->StringGrid1->SetCells(1, row, CodePage::ToText(records[i].Name));
        ui_->StringGrid1->SetCells(2, row, CodePage::ToText(records[i].Command));
        ui_->StringGrid1->SetCells(3, row, CodePage::ToText(records[i].CR));
    }
    // What was read before a failure stays in the grid.
    if (!problem.empty())
        throw std::runtime_error(problem);
}

void TForm1::WriteMetaKeyFile()
{
    std::vector<TMetaKeyRecord> records(kMetaKeyRows);
    for (size_t i = 0; i < kMetaKeyRows; ++i) {
        const int row = int(i) + 1;
        const TStringGrid* grid = ui_->StringGrid1;
        records[i] = {CellBytes(grid, 1, row), CellBytes(grid, 2, row), CellBytes(grid, 3, row)};
    }
    SaveMetaKeyRecords(kMetaKeyFile, records);
}
