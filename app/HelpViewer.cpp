#include "app/HelpViewer.h"

#include "app/Contrast.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBlock>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <stdexcept>

namespace {

const char* const kDefaultHelpFile = "MorvelPBX.hlp";

bool HasAnchor(const QTextDocument* document, const QString& name)
{
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().anchorNames().contains(name))
                return true;
    return false;
}

}  // namespace

THelpViewer::THelpViewer(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    resize(720, 600);

    ButtonContents = new QPushButton(QStringLiteral("Contents"), this);
    ButtonBack = new QPushButton(QStringLiteral("Back"), this);
    ButtonForward = new QPushButton(QStringLiteral("Forward"), this);
    Browser = new QTextBrowser(this);
    Browser->setOpenExternalLinks(false);
    Browser->setOpenLinks(true);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ButtonContents);
    buttons->addWidget(ButtonBack);
    buttons->addWidget(ButtonForward);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    KeepLinksReadable();
    ButtonBack->setEnabled(false);
    ButtonForward->setEnabled(false);
    connect(Browser, &QTextBrowser::backwardAvailable, ButtonBack, &QWidget::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ButtonForward, &QWidget::setEnabled);
    connect(ButtonBack, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(ButtonForward, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(ButtonContents, &QPushButton::clicked, this, [this] {
        QUrl url = Browser->source();
        url.setFragment(topic_);
        Browser->setSource(url, QTextDocument::HtmlResource);
    });
}

QString THelpViewer::LocateHelpFile(const QString& fileName)
{
    if (QFileInfo(fileName).isAbsolute())
        return QFileInfo(fileName).isFile() ? fileName : QString();
    // Beside the program (a build), in the installed data folder, then in the working directory.
    const QString program = QCoreApplication::applicationDirPath();
    for (const QString& folder : {program, program + QStringLiteral("/../share/morvel-pbx"), QDir::currentPath()}) {
        const QFileInfo candidate(QDir(folder), fileName);
        if (candidate.isFile())
            return candidate.absoluteFilePath();
    }
    return QString();
}

void THelpViewer::ShowTopic(const QString& fileName, const QString& topic)
{
    const QString path = LocateHelpFile(fileName);
    if (path.isEmpty()) {
        const QString where = QFileInfo(fileName).isAbsolute()
                                  ? QString()
                                  : QStringLiteral(" beside the program (%1), in %2 or in the working directory (%3)")
                                        .arg(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()),
                                             QDir::toNativeSeparators(QDir::cleanPath(
                                                 QCoreApplication::applicationDirPath() + "/../share/morvel-pbx")),
                                             QDir::toNativeSeparators(QDir::currentPath()));
        throw std::runtime_error(
            QStringLiteral("Cannot find the help file \"%1\"%2.").arg(fileName, where).toStdString());
    }
    topic_ = topic;
    QUrl url = QUrl::fromLocalFile(path);
    // The file is read anew so that an edited help file shows at once.
    if (Browser->source().adjusted(QUrl::RemoveFragment) == url)
        Browser->reload();
    url.setFragment(topic);
    Browser->setSource(url, QTextDocument::HtmlResource);
    QString title = QCoreApplication::applicationName() + QStringLiteral(" Help");
    if (!HasAnchor(Browser->document(), topic))
        title += QStringLiteral(" (no topic \"%1\": shown from the beginning)").arg(topic);
    setWindowTitle(title);
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void ShowHelp(QWidget* owner, const QString& topic)
{
    auto* viewer = owner->findChild<THelpViewer*>(QString(), Qt::FindDirectChildrenOnly);
    if (!viewer)
        viewer = new THelpViewer(owner);
    const QVariant property = QCoreApplication::instance()->property("helpFile");
    const QString file = property.toString().isEmpty() ? QString::fromLatin1(kDefaultHelpFile) : property.toString();
    viewer->ShowTopic(file, topic);
}

void THelpViewer::KeepLinksReadable()
{
    // Some dark schemes keep the light scheme's dark blue for links.
    QPalette palette = Browser->palette();
    const QColor base = palette.color(QPalette::Base);
    if (ContrastRatio(palette.color(QPalette::Link), base) >= kReadableContrast)
        return;
    const bool dark = ContrastRatio(base, Qt::black) < ContrastRatio(base, Qt::white);
    palette.setColor(QPalette::Link, dark ? QColor(0x8A, 0xB4, 0xF8) : QColor(0x1A, 0x4F, 0xA0));
    Browser->setPalette(palette);
}

void THelpViewer::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && Browser)
        KeepLinksReadable();
}
