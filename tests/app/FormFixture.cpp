#include "tests/app/FormFixture.h"

#include "serial/SerialNG.h"
#include "support/Dialogs.h"

#include <QCoreApplication>
#include <QFile>

void FormFixture::SetUp()
{
    ASSERT_TRUE(dir_.isValid());
    oldDir_ = QDir::currentPath();
    QDir::setCurrent(dir_.path());
    Dialogs::ErrorBox = [this](const QString& text) { errors_ << text; };
    Dialogs::ErrorMessage = [this](QWidget*, const QString& text) { errors_ << text; };
    Dialogs::Confirm = [this](QWidget*, const QString&) {
        ++confirms_;
        return confirmAnswer_;
    };
}

void FormFixture::TearDown()
{
    form_.reset();
    Dialogs::RestoreDefaults();
    QDir::setCurrent(oldDir_);
}

TForm1& FormFixture::Create(TForm1Options options)
{
    options.Now = [this] { return now_; };
    if (!options.AnotherInstanceRunning)
        options.AnotherInstanceRunning = [] { return false; };
    options.ListSystemPorts = false;
    options.WatchSessionEnd = false;
    form_ = std::make_unique<TForm1>(std::move(options));
    return *form_;
}

void FormFixture::Receive(const std::string& bytes) { form_->SerialPortNG1->InjectCluster(bytes); }

void FormFixture::Settle()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
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
