#include "tests/app/FormFixture.h"

#include "app/ImageButton.h"
#include "app/StatusBar.h"
#include "app/StringGrid.h"
#include "app/TerminalMemo.h"
#include "serial/SerialNG.h"
#include "tests/WaitUntil.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QFrame>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>

void FormFixture::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    oldDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
}

void FormFixture::TearDown()
{
    form_.reset();
    QDir::setCurrent(oldDir_);
}

TForm1& FormFixture::Create(TForm1Options options)
{
    options.Now = [this] { return now_; };
    if (!options.AnotherInstanceRunning)
        options.AnotherInstanceRunning = [] { return false; };
    options.ListSystemPorts = false;
    options.WatchSessionEnd = watchSessionEnd_;
    options.AnswerOtherInstances = false;
    options.Dialogs.ErrorBox = [this](const QString& text) { errors_ << text; };
    options.Dialogs.ErrorMessage = [this](QWidget*, const QString& text) { errors_ << text; };
    options.Dialogs.Confirm = [this](QWidget*, const QString&) {
        ++confirms_;
        return confirmAnswer_;
    };
    options.Dialogs.PasswordPrompt = [this](const QString& caption, const QString& prompt, bool masked,
                                            QString& value) {
        return prompt_ && prompt_(caption, prompt, masked, value);
    };
    options.SerialPort = [this] {
        auto port = std::make_unique<TSerialPortNG>();
        port_ = port.get();
        return port;
    };
    form_.reset();
    form_ = std::make_unique<TForm1>(std::move(options));
    return *form_;
}

void FormFixture::Receive(const std::string& bytes) { port_->InjectCluster(bytes); }

void FormFixture::Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

bool FormFixture::WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    return WaitUntil(condition, timeoutMs);
}

void FormFixture::TypeInDisplay(const char* text) const
{
    for (const char* c = text; *c; ++c) {
        QKeyEvent key(QEvent::KeyPress, *c == '\r' ? Qt::Key_Return : 0, Qt::NoModifier, QString(QChar(*c)));
        QCoreApplication::sendEvent(Memo(), &key);
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

TTerminalMemo* FormFixture::Memo() const { return Find<TTerminalMemo>("Memo1"); }
TStringGrid* FormFixture::Grid() const { return Find<TStringGrid>("StringGrid1"); }
QPushButton* FormFixture::Button(const char* name) const { return Find<QPushButton>(name); }
QCheckBox* FormFixture::Check(const char* name) const { return Find<QCheckBox>(name); }
QLineEdit* FormFixture::Edit(const char* name) const { return Find<QLineEdit>(name); }
QComboBox* FormFixture::Combo(const char* name) const { return Find<QComboBox>(name); }
QFrame* FormFixture::Frame(const char* name) const { return Find<QFrame>(name); }
QAction* FormFixture::Action(const char* name) const { return Find<QAction>(name); }
QString FormFixture::Status(int panel) const { return Find<TStatusBar>("StatusBar1")->Panels(panel).Text; }

QString FormFixture::Selected(const char* list) const
{
    const QComboBox* box = Combo(list);
    return box->currentIndex() < 0 ? QString() : box->itemText(box->currentIndex());
}

void FormFixture::OpenMenu() const { emit Find<QMenu>("PopupMenu1")->aboutToShow(); }

void FormFixture::OpenSettings() const { emit Find<TImageButton>("ImageSetings")->clicked(); }

void FormFixture::DoubleClickCell() const
{
    TStringGrid* grid = Grid();
    emit grid->cellDoubleClicked(grid->currentRow(), grid->currentColumn());
}

std::string FormFixture::ReadFile(const QString& path) const
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll().toStdString();
}

void FormFixture::WriteFile(const QString& path, const std::string& bytes) const
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes.data(), qint64(bytes.size()));
}
