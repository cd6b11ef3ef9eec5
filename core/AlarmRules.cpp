#include "core/AlarmRules.h"

#include "support/CodePage.h"

#include <QFile>

namespace {

constexpr auto kOptions = QRegularExpression::CaseInsensitiveOption;

}  // namespace

TAlarmRules TAlarmRules::Parse(const QString& text, std::vector<std::string>& problems)
{
    TAlarmRules rules;
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList alternatives, patterns;
    for (int i = 0; i < lines.size(); ++i) {
        QString rule = lines[i];
        if (rule.endsWith(QLatin1Char('\r')))
            rule.chop(1);
        if (rule.trimmed().isEmpty() || rule.startsWith(QLatin1Char('#')))
            continue;
        QRegularExpression expression(rule, kOptions);
        if (!expression.isValid()) {
            problems.push_back("Watch.txt line " + std::to_string(i + 1) + ": the rule \"" + rule.toStdString() +
                               "\" is not a valid pattern (" + expression.errorString().toStdString() +
                               "); it is skipped.");
            continue;
        }
        expression.optimize();
        rules.rules_.push_back({rule, expression, i + 1});
        alternatives << QStringLiteral("(?:%1)").arg(rule);
        patterns << rule;
    }
    // Back references and subroutine calls count groups across the rules, and a
    // quote (\Q) may run into the next rule; with any of them, each rule goes alone.
    static const QRegularExpression backReference(QStringLiteral(R"(\\([1-9]|g|k|Q)|\(\?([-+]?\d|R|P>|&))"));
    if (!alternatives.join(QString()).contains(backReference)) {
        rules.any_ =
            QRegularExpression(alternatives.join(QLatin1Char('|')), kOptions | QRegularExpression::DontCaptureOption);
        rules.any_.optimize();
    }
    rules.prefilter_.Build(patterns);
    return rules;
}

TAlarmRules TAlarmRules::Load(const std::string& path, std::vector<std::string>& problems)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly)) {
        if (file.exists())
            problems.push_back("Cannot read \"" + path + "\": " + file.errorString().toStdString());
        return {};
    }
    return Parse(QString::fromUtf8(file.readAll()), problems);
}

int TAlarmRules::Match(std::string_view line) const
{
    if (rules_.empty() || (prefilter_.Active() && !prefilter_.MayMatch(line)))
        return -1;
    text_.resize(0);  // keeps the storage, unlike clear()
    CodePage::AppendText(text_, line);
    int found = -1;
    if (!any_.isValid() || any_.pattern().isEmpty() || any_.match(QStringView(text_)).hasMatch()) {
        for (size_t i = 0; i < rules_.size() && found < 0; ++i)
            if (rules_[i].Expression.match(QStringView(text_)).hasMatch())
                found = int(i);
    }
    // A huge line's storage is not kept.
    if (text_.capacity() > 4096)
        text_ = QString();
    return found;
}
