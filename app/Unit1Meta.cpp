// Meta keys: fourteen buttons in three banks sending the commands of the grid.
#include "app/Unit1.h"

#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "core/MetaKeyFile.h"
#include "serial/SerialNG.h"
#include "support/AtomicFile.h"
#include "support/CodePage.h"

#include <QGroupBox>
#include <QPushButton>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <sys/stat.h>

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
    GroupBox1->resize(width() - 16, GroupBox1->height());
    MetaStep = uint16_t((GroupBox1->width() - 50) / 14);
    GroupBox1->resize(MetaStep * 14 + 53, GroupBox1->height());
    try {
        ReadMetaKeyFile();
    } catch (const std::exception& e) {
        ReportStartupProblem(e.what());  // the keys stay usable with what was read
    }
    MetaSW->setText(QString::number(MetaBank + 1));
    for (int t = 1; t <= 14; ++t)
        meta[size_t(t)]->setGeometry(50 + (t - 1) * MetaStep, meta[size_t(t)]->y(), MetaStep - 2,
                                     meta[size_t(t)]->height());
    CaptionMetaKeys();
}

void TForm1::CaptionMetaKeys()
{
    for (int t = 1; t <= 14; ++t)
        meta[size_t(t)]->setText(StringGrid1->Cells(1, MetaBank * 14 + t));
}

void TForm1::MetaClick(int tag)
{
    const int row = MetaBank * 14 + tag;
    std::string command = CellBytes(StringGrid1, 2, row);
    if (StringGrid1->Cells(3, row) == kCRMarker)
        command += '\r';
    SerialPortNG1->SendText(command);
    Memo1->setFocus();
}

void TForm1::MetaSWClick()
{
    MetaBank = MetaBank < 2 ? uint8_t(MetaBank + 1) : uint8_t(0);
    MetaSW->setText(QString::number(MetaBank + 1));
    CaptionMetaKeys();
    Memo1->setFocus();
}

void TForm1::StringGrid1DblClick()
{
    if (StringGrid1->Col() != 3)
        return;
    const int row = StringGrid1->Row();
    StringGrid1->SetCells(3, row, StringGrid1->Cells(3, row) == kCRMarker ? QString() : kCRMarker);
}

void TForm1::ReadMetaKeyFile()
{
    struct stat st {};
    if (::stat(kMetaKeyFile, &st) != 0 && errno == ENOENT)
        return;
    std::string bytes;
    if (!ReadWholeFile(kMetaKeyFile, bytes))
        throw std::runtime_error(std::string("Cannot read \"") + kMetaKeyFile + "\": " + std::strerror(errno));
    const std::vector<TMetaKeyRecord> records = DecodeMetaKeyRecords(bytes);
    for (size_t i = 0; i < records.size(); ++i) {
        const int row = int(i) + 1;
        StringGrid1->SetCells(1, row, CodePage::ToText(records[i].Name));
        StringGrid1->SetCells(2, row, CodePage::ToText(records[i].Command));
        StringGrid1->SetCells(3, row, CodePage::ToText(records[i].CR));
    }
}

void TForm1::WriteMetaKeyFile()
{
    std::vector<TMetaKeyRecord> records(kMetaKeyRows);
    for (size_t i = 0; i < kMetaKeyRows; ++i) {
        const int row = int(i) + 1;
        records[i] = {CellBytes(StringGrid1, 1, row), CellBytes(StringGrid1, 2, row), CellBytes(StringGrid1, 3, row)};
    }
    AtomicWriteFile(kMetaKeyFile, EncodeMetaKeyRecords(records));
}
