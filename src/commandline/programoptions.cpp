#include "programoptions.h"

namespace {

QString description()
{
    return QStringLiteral(
        "選んだファイルを連番の名前でコピー、または移動します。\n"
        "\n"
        "  kaenami [PATH...]\n"
        "    "
        "ウィンドウを開きます。フォルダー一つなら元のフォルダーに、二つなら元とコピー先に開き、\n"
        "    一つのフォルダーのファイルならそのフォルダーでそのファイルを選びます\n"
        "    （ファイルのあとのフォルダーはコピー先）。\n"
        "  kaenami --rename --base NAME [--start N] [--digits D] [--ext EXT] [--move]\n"
        "          [--overwrite] [--order name|taken|modified|given] [--dry-run]\n"
        "          --to TARGET FILE...\n"
        "    ウィンドウを開かずに、FILE... を TARGET に連番の名前でコピー（--move なら移動）\n"
        "    します。ウィンドウと同じ確認、ごみ箱、元に戻す記録を使い、設定ファイルと\n"
        "    拡張子の一覧には書きません。メッセージは標準エラーに出ます。Ctrl+C を押すと、\n"
        "    処理中のファイルを終えてから止まります。\n"
        "  kaenami --undo [--yes]\n"
        "    ウィンドウを開かずに、最後のリネーム（ウィンドウでも --rename でも）を元に戻します。\n"
        "\n"
        "終了コード（--rename、--undo）: 0 すべて完了、1 始めなかった・止めた・中断した・\n"
        "元に戻せなかったものがある、2 コマンドラインの誤り。");
}

} // namespace

ProgramOptions::ProgramOptions()
    : m_help(m_parser.addHelpOption()), m_version(m_parser.addVersionOption())
{
    m_parser.setApplicationDescription(description());
    // The window system's options are words after one dash (-reverse, -stylesheet x), not
    // bundles of letters that could read as -v or -h.
    m_parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    m_parser.addPositionalArgument(
        QStringLiteral("PATH"),
        QStringLiteral("ウィンドウで開くフォルダーかファイル。--rename ではリネームするファイル。"),
        QStringLiteral("[PATH...]"));
    const QList<QPair<QCommandLineOption *, QString>> described{
        {&m_renameOption, QStringLiteral("ウィンドウを開かずにリネームします。")},
        {&m_base, QStringLiteral("ファイル名（連番の前）。--rename に必要です。")},
        {&m_start, QStringLiteral("開始No（既定: 1）。")},
        {&m_digits, QStringLiteral("桁数 1〜15（既定: 4）。")},
        {&m_ext, QStringLiteral("拡張子（既定: jpg）。")},
        {&m_move, QStringLiteral("移動する（元のファイルを残しません）。")},
        {&m_overwrite, QStringLiteral("上書きする。")},
        {&m_order, QStringLiteral("番号を振る順: name（名前順、既定）、taken（撮影日時順）、"
                                  "modified（更新日時順）、given（指定した順）。")},
        {&m_dryRun,
         QStringLiteral("何も変更せずに、ファイルごとに元の名前 → 新しい名前と結果を表示します。")},
        {&m_to, QStringLiteral("コピー先のフォルダー。--rename に必要です。")},
        {&m_undoOption, QStringLiteral("ウィンドウを開かずに、最後のリネームを元に戻します。")},
        {&m_yes, QStringLiteral("--undo で、端末でも確かめずに元に戻します。")}};
    for (const auto &[option, text] : described) {
        option->setDescription(text);
        m_parser.addOption(*option);
    }
    // The options Qt 6 and its X11 plugin take for themselves, known here only so that they
    // are left alone.
    for (const char *name :
         {"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
          "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry",
          "name", "title", "visual", "icon", "qmljsdebugger"}) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_windowOptions.append(option);
    }
    for (const char *name : {"reverse", "widgetcount", "nograb", "dograb", "testability"}) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        m_windowOptions.append(option);
    }
    m_parser.addOptions(m_windowOptions);
}

ProgramOptions::Request ProgramOptions::usageError(const QString &message)
{
    m_error = message + QStringLiteral("\n使い方は kaenami --help で表示します。");
    return Request::UsageError;
}

ProgramOptions::Request ProgramOptions::parse(const QStringList &arguments)
{
    m_error.clear();
    m_rename = {};
    const bool parsed = m_parser.parse(arguments);
    const bool batch = m_parser.isSet(m_renameOption) || m_parser.isSet(m_undoOption);
    QStringList unknown = m_parser.unknownOptionNames();
    // --help-all, which Qt's parser knows without saying so, gives the same help.
    const bool help = m_parser.isSet(m_help) ||
                      m_parser.optionNames().contains(QStringLiteral("help-all")) ||
                      unknown.contains(QStringLiteral("help-all"));
    unknown.removeAll(QStringLiteral("help-all"));
    if (!unknown.isEmpty()) {
        m_error = QStringLiteral("Unknown option '%1'.").arg(unknown.constFirst());
        return batch ? Request::UsageError : Request::UnknownOption;
    }
    if (help)
        return Request::Help;
    if (m_parser.isSet(m_version))
        return Request::Version;
    if (!parsed)
        return usageError(m_parser.errorText());

    // A batch opens no window; a window option there would take the next file as its value.
    if (batch) {
        for (const QCommandLineOption &option : std::as_const(m_windowOptions)) {
            if (m_parser.isSet(option))
                return usageError(QStringLiteral("--%1 はウィンドウを開くときのオプションです。"
                                                 "--rename、--undo とは一緒に使えません。")
                                      .arg(option.names().constFirst()));
        }
    }
    const QList<const QCommandLineOption *> renameOnly{
        &m_base, &m_start, &m_digits, &m_ext, &m_move, &m_overwrite, &m_order, &m_dryRun, &m_to};
    const auto firstSet = [this](const QList<const QCommandLineOption *> &options) {
        for (const QCommandLineOption *option : options) {
            if (m_parser.isSet(*option))
                return QStringLiteral("--") + option->names().constFirst();
        }
        return QString();
    };
    if (m_parser.isSet(m_renameOption) && m_parser.isSet(m_undoOption))
        return usageError(QStringLiteral("--rename と --undo は一緒に使えません。"));
    if (m_parser.isSet(m_undoOption)) {
        if (const QString option = firstSet(renameOnly); !option.isEmpty())
            return usageError(QStringLiteral("%1 は --rename と一緒に使います。").arg(option));
        if (!m_parser.positionalArguments().isEmpty())
            return usageError(QStringLiteral("--undo にはファイルを指定しません。"));
        return Request::Undo;
    }
    if (m_parser.isSet(m_yes))
        return usageError(QStringLiteral("--yes は --undo と一緒に使います。"));
    if (!m_parser.isSet(m_renameOption)) {
        if (const QString option = firstSet(renameOnly); !option.isEmpty())
            return usageError(QStringLiteral("%1 は --rename と一緒に使います。").arg(option));
        return Request::Window;
    }
    return readRename() ? Request::Rename : Request::UsageError;
}

bool ProgramOptions::readRename()
{
    RenameCommand &command = m_rename;
    if (!m_parser.isSet(m_base)) {
        usageError(QStringLiteral("--rename には --base でファイル名を指定してください。"));
        return false;
    }
    if (!m_parser.isSet(m_to)) {
        usageError(QStringLiteral("--rename には --to でコピー先のフォルダーを指定してください。"));
        return false;
    }
    command.files = m_parser.positionalArguments();
    if (command.files.isEmpty()) {
        usageError(QStringLiteral("--rename にはリネームするファイルを指定してください。"));
        return false;
    }
    command.baseName = m_parser.value(m_base);
    command.target = m_parser.value(m_to);
    if (m_parser.isSet(m_start))
        command.startNumberText = m_parser.value(m_start);
    if (m_parser.isSet(m_digits)) {
        // The digit list's own entries, "1" to "15".
        const QString digits = m_parser.value(m_digits);
        bool isNumber = false;
        const int count = digits.toInt(&isNumber);
        if (!isNumber || count < 1 || count > 15 || QString::number(count) != digits) {
            usageError(QStringLiteral("--digits には 1 から 15 までの数を指定してください。"));
            return false;
        }
        command.digitCountText = digits;
    }
    if (m_parser.isSet(m_ext))
        command.extension = m_parser.value(m_ext);
    command.move = m_parser.isSet(m_move);
    command.overwrite = m_parser.isSet(m_overwrite);
    command.dryRun = m_parser.isSet(m_dryRun);
    if (m_parser.isSet(m_order)) {
        static const QList<QPair<QString, RenameCommand::Order>> orders{
            {QStringLiteral("name"), RenameCommand::Order::Name},
            {QStringLiteral("taken"), RenameCommand::Order::Taken},
            {QStringLiteral("modified"), RenameCommand::Order::Modified},
            {QStringLiteral("given"), RenameCommand::Order::Given}};
        const QString order = m_parser.value(m_order);
        const auto found = std::find_if(orders.cbegin(), orders.cend(),
                                        [&](const auto &entry) { return entry.first == order; });
        if (found == orders.cend()) {
            usageError(QStringLiteral(
                "--order には name、taken、modified、given のどれかを指定してください。"));
            return false;
        }
        command.order = found->second;
    }
    return true;
}
