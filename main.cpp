// Morvel PBX maintenance terminal.
#include "app/Application.h"
#include "app/Unit1.h"
#include "archive/Unit2.h"

#include <QCommandLineParser>

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    app.setProperty("helpFile", QStringLiteral("MorvelPBX.hlp"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Terminal for the maintenance port of a Morvel PBX"));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Offer the serial device at <path> first in the port list."),
                                        QStringLiteral("path"));
    parser.addOption(portOption);
    parser.process(app);

    TForm1Options options;
    for (const QString& port : parser.values(portOption))
        options.ExtraPorts.push_back(port.toStdString());

    TForm1 form1(std::move(options));
    if (form1.Terminated())
        return 0;
    TForm2 form2;
    form1.SetArchiveWindow(&form2);
    form1.show();
    return app.exec();
}
