#pragma once
// The help viewer: a window showing the program's help file, an HTML text,
// at a named topic (an anchor in the file).
#include <QString>
#include <QWidget>

class QPushButton;
class QTextBrowser;

class THelpViewer : public QWidget {
    Q_OBJECT
public:
    // A window of its own, destroyed with its owner.
    explicit THelpViewer(QWidget* owner);

    // Shows the help file at the topic and brings the window to the front.
    // Throws std::runtime_error when the file is not found.
    void ShowTopic(const QString& fileName, const QString& topic);

    // A bare name is looked for beside the program, then in the working directory.
    static QString LocateHelpFile(const QString& fileName);

    QTextBrowser* Browser = nullptr;
    QPushButton* ButtonContents = nullptr;
    QPushButton* ButtonBack = nullptr;
    QPushButton* ButtonForward = nullptr;

protected:
    void changeEvent(QEvent* event) override;

private:
    void KeepLinksReadable();

    QString topic_;
};

// The application's help: its help file (the application's "helpFile"
// property, "MorvelPBX.hlp" when unset) at the topic, in the owner's viewer.
void ShowHelp(QWidget* owner, const QString& topic);
