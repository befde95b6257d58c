#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <climits>
#include <csignal>
#include <optional>

#include "app/IniFile.h"
#include "files/CommaText.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath(QStringLiteral("Lorvex.ini")); }
    void put(const QByteArray& bytes) const { writeFile(path(), bytes); }
    QByteArray bytes() const { return readFile(path()); }

    QTemporaryDir dir;
};

TEST_F(IniFileTest, FirstUseCreatesAnEmptyFileAndEveryKeyReadsItsDefault) {
    IniFile ini(path());
    ini.open();
    ASSERT_TRUE(QFileInfo(path()).isFile());
    EXPECT_EQ(bytes(), QByteArray());

    const struct {
        const char* section;
        const char* key;
        int def;
    } integers[] = {{"Windows", "left", 230},    {"Windows", "top", 160},
                    {"Windows", "width", 714},   {"Windows", "height", 636},
                    {"PanelTree", "width", 177}, {"PanelTree", "height", 505},
                    {"ShowPanel", "Panel", 0}};
    for (const auto& row : integers)
        EXPECT_EQ(ini.ReadInteger(row.section, row.key, row.def), row.def) << row.key;
    EXPECT_EQ(ini.ReadString("ConnectServer", "ConnectServer", "None"), "None");
    for (const char* key : {"level2", "level3", "level4"})
        EXPECT_EQ(ini.ReadString("Expand", key, "NoneBD"), "NoneBD");
    EXPECT_EQ(ini.ReadString("SelectDB", "DB", "NoneBD"), "NoneBD");

    // Opening again leaves an existing file as it stands.
    put("[Windows]\nleft=5\n");
    IniFile(path()).open();
    EXPECT_EQ(bytes(), "[Windows]\nleft=5\n");
}

TEST_F(IniFileTest, OpenReportsAFileThatCannotBeCreatedAndReadsGoOnWithDefaults) {
    const QString missing = dir.filePath(QStringLiteral("no/such/dir/Lorvex.ini"));
    IniFile ini(missing);
    try {
        ini.open();
        FAIL() << "no error";
    } catch (const IniFileError& e) {
        const QString prefix = "Cannot create the settings file " + missing + ": ";
        EXPECT_TRUE(e.text().startsWith(prefix)) << e.text().toStdString();
        EXPECT_GT(e.text().size(), prefix.size());
    }
    EXPECT_EQ(ini.ReadInteger("Windows", "left", 230), 230);
    EXPECT_EQ(ini.ReadString("SelectDB", "DB", "NoneBD"), "NoneBD");
}

struct IntegerRow {
    const char* text;
    std::optional<int> expected;  // nullopt: the default
};

class IntegerValues : public IniFileTest, public ::testing::WithParamInterface<IntegerRow> {};

TEST_P(IntegerValues, ReadAsTheNumberOrTheDefault) {
    put(QByteArray("[S]\r\nk=") + GetParam().text + "\r\n");
    EXPECT_EQ(IniFile(path()).ReadInteger("S", "k", -7), GetParam().expected.value_or(-7))
        << "value: [" << GetParam().text << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, IntegerValues,
    ::testing::Values(IntegerRow{"42", 42}, IntegerRow{"-17", -17}, IntegerRow{"+5", 5},
                      IntegerRow{"00042", 42}, IntegerRow{"0x1A", 26}, IntegerRow{"0X1a", 26},
                      IntegerRow{"0x7FFFFFFF", INT_MAX}, IntegerRow{"2147483647", INT_MAX},
                      IntegerRow{"-2147483648", INT_MIN}, IntegerRow{" 42 ", 42},
                      IntegerRow{"\t42\t", 42}, IntegerRow{"\" 42 \"", 42}, IntegerRow{"12abc", {}},
                      IntegerRow{"", {}}, IntegerRow{"   ", {}}, IntegerRow{"2147483648", {}},
                      IntegerRow{"-2147483649", {}}, IntegerRow{"99999999999999999999999", {}},
                      IntegerRow{"0x80000000", {}}, IntegerRow{"0x", {}}, IntegerRow{"0x1G", {}},
                      IntegerRow{"-0x1A", {}}, IntegerRow{"-", {}}, IntegerRow{"4 2", {}},
                      IntegerRow{"1.5", {}},
                      IntegerRow{"\xd9\xa4\xd9\xa2", {}}));  // Arabic-Indic digits 4 2

TEST_F(IniFileTest, TextValuesAreTrimmedAndUnquotedAndAnEmptyValueIsNotTheDefault) {
    put("[Text]\n"
        "empty=\n"
        "blank=   \n"
        "spaced=  a b  \n"
        "dq=\" x \"\n"
        "sq='y'\n"
        "mismatched=\"z'\n"
        "inner=a \"b\" c\n"
        "eq=a=b=c\n"
        "  indented  =  v\n"
        "lone=\"\n"
        "nokey\n"
        ";comment=1\n");
    IniFile ini(path());
    const QString def = QStringLiteral("def");
    EXPECT_EQ(ini.ReadString("Text", "empty", def), "");
    EXPECT_FALSE(ini.ReadString("Text", "empty", def).isNull());
    EXPECT_EQ(ini.ReadString("Text", "blank", def), "");
    EXPECT_EQ(ini.ReadString("Text", "spaced", def), "a b");
    EXPECT_EQ(ini.ReadString("Text", "dq", def), " x ");
    EXPECT_EQ(ini.ReadString("Text", "sq", def), "y");
    EXPECT_EQ(ini.ReadString("Text", "mismatched", def), "\"z'");
    EXPECT_EQ(ini.ReadString("Text", "inner", def), "a \"b\" c");
    EXPECT_EQ(ini.ReadString("Text", "eq", def), "a=b=c");
    EXPECT_EQ(ini.ReadString("Text", "indented", def), "v");
    EXPECT_EQ(ini.ReadString("Text", "lone", def), "\"");
    EXPECT_EQ(ini.ReadString("Text", "nokey", def), def);
    EXPECT_EQ(ini.ReadString("Text", ";comment", def), def);
    EXPECT_EQ(ini.ReadString("Text", "missing", def), def);
    EXPECT_EQ(ini.ReadString("Other", "empty", def), def);
    EXPECT_EQ(ini.ReadInteger("Text", "empty", 9), 9);
}

TEST_F(IniFileTest, LongValuesAreCutToTheirFirst2047Characters) {
    const QString korean = QString(2100, QChar(0xAC00));
    const QString emoji = QString(2046, u'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + "b";
    put(QByteArrayList{"[L]", "ascii=" + QByteArray(3000, 'a'), "exact=" + QByteArray(2047, 'e'),
                       "quoted=\"" + QByteArray(2047, 'q') + '"', "korean=" + korean.toUtf8(),
                       "emoji=" + emoji.toUtf8()}
            .join('\n'));
    IniFile ini(path());
    EXPECT_EQ(ini.ReadString("L", "ascii", {}), QString(2047, u'a'));
    EXPECT_EQ(ini.ReadString("L", "exact", {}), QString(2047, u'e'));
    EXPECT_EQ(ini.ReadString("L", "quoted", {}), QString(2047, u'q'));
    EXPECT_EQ(ini.ReadString("L", "korean", {}), korean.first(2047));
    // The cut falls inside a surrogate pair: the half character is dropped too.
    EXPECT_EQ(ini.ReadString("L", "emoji", {}), QString(2046, u'a'));
}

TEST_F(IniFileTest, WritesKeepEveryOtherLineAndMatchNamesWithoutCase) {
    put("; Lorvex settings\n"
        "orphan=1\n"
        "\n"
        "[Windows]\n"
        "left=10\n"
        "; keep me\n"
        "top=20\n"
        "\n"
        "; about the tree\n"
        "[PanelTree]\n"
        "width=177\n");
    IniFile ini(path());
    ini.WriteInteger("windows", "LEFT", 300);
    ini.WriteString("Windows", "height", "636");
    ini.WriteString("SelectDB", "DB", "test");
    ini.WriteString("Expand", "level1", "");
    ini.WriteInteger("PanelTree", "width", -1);

    EXPECT_EQ(bytes(),
              "; Lorvex settings\r\n"
              "orphan=1\r\n"
              "\r\n"
              "[Windows]\r\n"
              "left=300\r\n"
              "; keep me\r\n"
              "top=20\r\n"
              "height=636\r\n"
              "\r\n"
              "; about the tree\r\n"
              "[PanelTree]\r\n"
              "width=-1\r\n"
              "\r\n"
              "[SelectDB]\r\n"
              "DB=test\r\n"
              "\r\n"
              "[Expand]\r\n"
              "level1=\r\n");
    EXPECT_EQ(ini.ReadInteger("WINDOWS", "Left", 0), 300);
    EXPECT_EQ(ini.ReadInteger("windows", "HEIGHT", 0), 636);
    EXPECT_EQ(ini.ReadString("expand", "LEVEL1", "None"), "");
    // A key before the first section belongs to none.
    EXPECT_EQ(ini.ReadInteger("Windows", "orphan", 0), 0);
}

// Several changes in one rewrite: the same lines as one write after another; a change the
// format cannot hold is left out and reported after the others are written.
TEST_F(IniFileTest, ChangesAppliedTogetherWriteWhatSingleWritesWould) {
    const QByteArray start = "[Windows]\nleft=10\ntop=20\n[Expand]\nlevel1=a\nlevel1=b\n";
    put(start);
    IniFile single(path());
    single.WriteInteger("Windows", "left", 300);
    single.DeleteKey("Expand", "level1");
    single.WriteString("Expand", "level1", "c,");
    single.WriteString("SelectDB", "DB", "x");
    const QByteArray expected = bytes();

    put(start);
    IniFile batch(path());
    try {
        batch.Apply({{"Windows", "left", QStringLiteral("300")},
                     {"Expand", "level1", std::nullopt},
                     {"Bad]", "k", QStringLiteral("v")},
                     {"Expand", "level1", QStringLiteral("c,")},
                     {"SelectDB", "DB", QStringLiteral("x")},
                     {"Windows", "top", QStringLiteral("two\nlines")}});
        ADD_FAILURE() << "no error";
    } catch (const IniFileError& e) {
        EXPECT_TRUE(e.text().contains(QStringLiteral("\"[Bad]] k\" is not a valid section")))
            << e.text().toStdString();
    }
    EXPECT_EQ(bytes(), expected);

    // Nothing to change: the file is not rewritten.
    const QDateTime old = QFileInfo(path()).lastModified().addSecs(-100);
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(file.setFileTime(old, QFileDevice::FileModificationTime));
    }
    batch.Apply({{"Nowhere", "none", std::nullopt}});
    EXPECT_EQ(QFileInfo(path()).lastModified(), old);
}

TEST_F(IniFileTest, EveryWrittenTextReadsBackAsWritten) {
    const QString values[] = {"",
                              "plain",
                              "  lead",
                              "trail\t",
                              "\"quoted\"",
                              "'single'",
                              "\"",
                              "'x\"",
                              "\"\"",
                              "a=b;c [d]",
                              QString::fromUtf8("한국어 서버"),
                              "\"my db\",t1,",
                              QString(2047, u'z')};
    for (const QString& value : values) {
        IniFile(path()).WriteString("S", "k", value);
        EXPECT_EQ(IniFile(path()).ReadString("S", "k", "def"), value);
    }
    // Only a value that reading would change gets quotes; the file stays key=value lines.
    IniFile ini(path());
    ini.WriteString("S", "k", " lead");
    EXPECT_EQ(bytes(), "[S]\r\nk=\" lead\"\r\n");
    ini.WriteString("S", "k", QString::fromUtf8("서버 1"));
    EXPECT_EQ(bytes(), "[S]\r\nk=\xec\x84\x9c\xeb\xb2\x84 1\r\n");
}

TEST_F(IniFileTest, NamesAndValuesTheFormatCannotHoldAreRefused) {
    const QByteArray before = "[Windows]\r\nleft=1\r\n";
    put(before);
    IniFile ini(path());
    const struct {
        const char* section;
        const char* key;
        const char* value;
    } rows[] = {{"S", "k", "a\nb"}, {"S", "k", "x\r[Windows]"}, {"S", "a=b", "1"},
                {"S", "", "1"},     {"S", "[x", "1"},           {"S", ";k", "1"},
                {"S", " k", "1"},   {"a]b", "k", "1"},          {"", "k", "1"},
                {"S\n", "k", "1"}};
    for (const auto& row : rows) {
        EXPECT_THROW(ini.WriteString(row.section, row.key, row.value), IniFileError)
            << row.section << "/" << row.key;
    }
    try {
        ini.WriteString("SelectDB", "DB", "evil\n[Windows]\nleft=9");
        FAIL() << "no error";
    } catch (const IniFileError& e) {
        EXPECT_TRUE(e.text().startsWith("Cannot write the settings file " + path() + ": "));
    }
    EXPECT_EQ(bytes(), before);
}

TEST_F(IniFileTest, DeleteKeyRemovesEveryCopyAndNothingElse) {
    put("[Expand]\n"
        "level1=DB,\n"
        "level2=test,\n"
        "[Other]\n"
        "level1=keep\n"
        "[expand]\n"
        "LEVEL1=again\n");
    IniFile ini(path());
    ini.DeleteKey("EXPAND", "level1");
    EXPECT_EQ(bytes(),
              "[Expand]\r\n"
              "level2=test,\r\n"
              "[Other]\r\n"
              "level1=keep\r\n"
              "[expand]\r\n");
    EXPECT_EQ(ini.ReadString("Expand", "level1", "None"), "None");
    EXPECT_EQ(ini.ReadString("Other", "level1", "None"), "keep");

    // A missing key leaves the file untouched, and a missing file is not created.
    put("[A]\nx=1\n");
    ini.DeleteKey("A", "y");
    ini.DeleteKey("B", "x");
    EXPECT_EQ(bytes(), "[A]\nx=1\n");
    QFile::remove(path());
    ini.DeleteKey("A", "x");
    EXPECT_FALSE(QFile::exists(path()));
}

TEST_F(IniFileTest, DuplicateSectionsAndKeysReadAndWriteTheFirst) {
    put("[S]\nk=1\nk=2\n[T]\n[s]\nk=3\nj=4\n");
    IniFile ini(path());
    EXPECT_EQ(ini.ReadInteger("S", "k", 0), 1);
    EXPECT_EQ(ini.ReadInteger("S", "j", 0), 4);
    ini.WriteInteger("S", "k", 5);
    ini.WriteInteger("S", "j", 6);
    ini.WriteInteger("S", "new", 7);
    EXPECT_EQ(bytes(), "[S]\r\nk=5\r\nk=2\r\nnew=7\r\n[T]\r\n[s]\r\nk=3\r\nj=6\r\n");
}

TEST_F(IniFileTest, AnyLineEndIsReadAndWritesUseCrLf) {
    put("\xEF\xBB\xBF[A]\rx=1\r\n[B]\ny=2\r\rz=3");
    IniFile ini(path());
    EXPECT_EQ(ini.ReadInteger("A", "x", 0), 1);
    EXPECT_EQ(ini.ReadInteger("B", "y", 0), 2);
    EXPECT_EQ(ini.ReadInteger("B", "z", 0), 3);
    ini.WriteInteger("A", "x", 5);
    EXPECT_EQ(bytes(), "[A]\r\nx=5\r\n[B]\r\ny=2\r\n\r\nz=3\r\n");
}

TEST_F(IniFileTest, UnreadableFilesGiveDefaultsAndAreNeverOverwritten) {
    // The path is a directory.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Lorvex.ini")));
    IniFile ini(path());
    try {
        ini.open();
        FAIL() << "no error";
    } catch (const IniFileError& e) {
        EXPECT_TRUE(e.text().startsWith("Cannot read the settings file " + path() + ": "));
    }
    EXPECT_THROW(ini.WriteInteger("Windows", "left", 1), IniFileError);
    EXPECT_EQ(ini.ReadInteger("Windows", "left", 230), 230);
    EXPECT_TRUE(QFileInfo(path()).isDir());
    ASSERT_TRUE(QDir(dir.path()).rmdir(QStringLiteral("Lorvex.ini")));

    // A pipe must not block the reader.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path()).constData(), 0600), 0);
    EXPECT_EQ(ini.ReadString("SelectDB", "DB", "NoneBD"), "NoneBD");
    EXPECT_THROW(ini.DeleteKey("SelectDB", "DB"), IniFileError);
    ASSERT_TRUE(QFile::remove(path()));

    // A huge file is not ours: neither read nor replaced.
    put("[S]\nk=1\n");
    ASSERT_TRUE(QFile::resize(path(), IniFile::kMaxFileSize + 1));
    EXPECT_EQ(ini.ReadInteger("S", "k", -1), -1);
    EXPECT_THROW(ini.WriteInteger("S", "k", 2), IniFileError);
    EXPECT_THROW(ini.open(), IniFileError);
    EXPECT_EQ(QFileInfo(path()).size(), IniFile::kMaxFileSize + 1);
}

TEST_F(IniFileTest, AFailedRewriteIsReportedAndKeepsTheOldFile) {
    const QByteArray before = "[S]\r\nk=old\r\n";
    put(before);
    IniFile ini(path());
    {
        FileSizeLimit limit(64);
        ASSERT_TRUE(limit.ok());
        try {
            ini.WriteString("S", "k", QString(500, u'n'));
            ADD_FAILURE() << "no error";
        } catch (const IniFileError& e) {
            EXPECT_TRUE(e.text().startsWith("Cannot write the settings file " + path() + ": "))
                << e.text().toStdString();
        }
    }
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
              QStringList{"Lorvex.ini"});

    if (::geteuid() != 0) {  // root writes into read-only directories
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
        EXPECT_THROW(ini.WriteInteger("S", "k", 1), IniFileError);
        ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
        EXPECT_EQ(bytes(), before);
    }
}

TEST(IniFileParse, BinaryAndHugeInputIsParsedWithoutHarm) {
    QByteArray noise(256 * 1024, '\0');
    quint32 state = 12345;
    for (char& c : noise) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    const IniFile::Document doc = IniFile::parse(noise + "\n[Good]\nkey= value \n" + noise);
    const auto good = std::find_if(doc.sections.begin(), doc.sections.end(),
                                   [](const IniFile::Section& s) { return s.name == "Good"; });
    ASSERT_NE(good, doc.sections.end());
    ASSERT_FALSE(good->keys.empty());
    EXPECT_EQ(good->keys.front().name, "key");
    EXPECT_EQ(good->keys.front().value, "value");
    EXPECT_EQ(doc.lines[good->keys.front().line], "key= value ");

    const IniFile::Document line = IniFile::parse("[S]\n" + QByteArray(4 << 20, '=') + "x");
    EXPECT_EQ(line.lines.size(), 2);
    EXPECT_TRUE(line.sections.front().keys.empty());  // a line of '=' has no key name

    const IniFile::Document nul = IniFile::parse(QByteArray("[S]\0\nk\0=v\0w\r", 12));
    ASSERT_EQ(nul.sections.size(), 1u);
    ASSERT_EQ(nul.sections.front().keys.size(), 1u);
    EXPECT_EQ(nul.sections.front().keys.front().value, QString::fromUtf8("v\0w", 3));
    EXPECT_TRUE(IniFile::parse({}).lines.isEmpty());
}

struct SplitRow {
    const char* text;
    QStringList items;
};

class CommaTextSplit : public ::testing::TestWithParam<SplitRow> {};

TEST_P(CommaTextSplit, ReadsLikeDelphiCommaText) {
    EXPECT_EQ(commatext::split(QString::fromUtf8(GetParam().text)), GetParam().items)
        << "text: [" << GetParam().text << "]";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CommaTextSplit,
    ::testing::Values(SplitRow{"DB,USER,HOST,", {"DB", "USER", "HOST", ""}},
                      SplitRow{"test,t1,", {"test", "t1", ""}}, SplitRow{"a,,b", {"a", "", "b"}},
                      SplitRow{"my db", {"my", "db"}},
                      SplitRow{"\"my db\",t1,", {"my db", "t1", ""}}, SplitRow{"", {}},
                      SplitRow{" \t ", {}}, SplitRow{"  a , b  ", {"a", "b"}},
                      SplitRow{"a, ", {"a"}}, SplitRow{",", {"", ""}}, SplitRow{",a", {"", "a"}},
                      SplitRow{"a\tb\nc", {"a", "b", "c"}}, SplitRow{"\"a\"\"b\"", {"a\"b"}},
                      SplitRow{"\"\"", {""}}, SplitRow{"\"ab\"cd,x", {"ab", "cd", "x"}},
                      SplitRow{"\"open, rest", {"open, rest"}}, SplitRow{"a\"b,c", {"a\"b", "c"}},
                      SplitRow{"서버 1,디비,", {"서버", "1", "디비", ""}}));

TEST(CommaTextJoin, WritesTrailingCommasAndQuotesOnlyWhatSplitWouldBreak) {
    EXPECT_EQ(commatext::joinWithTrailingCommas({"DB", "USER", "HOST"}), "DB,USER,HOST,");
    EXPECT_EQ(commatext::joinWithTrailingCommas({}), "");
    EXPECT_EQ(commatext::joinWithTrailingCommas({"my db", "a,b", "say \"hi\"", "it's", ""}),
              "\"my db\",\"a,b\",\"say \"\"hi\"\"\",it's,,");

    const QStringList lists[] = {
        {"DB", "USER", "HOST"},
        {"my db", "a,b", "\"lead", "trail\"", "\"both\"", "tab\there", " "},
        {QString::fromUtf8("한국어 데이터베이스"), QString::fromUtf8("표1"), "", "t1"},
        {""},
    };
    for (const QStringList& items : lists) {
        // The trailing comma reads as one more, empty item.
        EXPECT_EQ(commatext::split(commatext::joinWithTrailingCommas(items)),
                  items + QStringList{""});
    }
}

TEST_F(IniFileTest, SavedListsReadBackThroughTheSettingsFile) {
    IniFile ini(path());
    ini.WriteString("Expand", "level4", commatext::joinWithTrailingCommas({"test", "t1"}));
    ini.WriteString("Expand", "level2",
                    commatext::joinWithTrailingCommas({"my db", QString::fromUtf8("판매 자료")}));
    EXPECT_EQ(bytes(),
              "[Expand]\r\nlevel4=test,t1,\r\nlevel2=\"my db\",\"\xed\x8c\x90\xeb\xa7\xa4 "
              "\xec\x9e\x90\xeb\xa3\x8c\",\r\n");
    EXPECT_EQ(commatext::split(ini.ReadString("Expand", "level4", "NoneBD")),
              (QStringList{"test", "t1", ""}));
    EXPECT_EQ(commatext::split(ini.ReadString("Expand", "level2", "NoneBD")),
              (QStringList{"my db", QString::fromUtf8("판매 자료"), ""}));
}

}  // namespace
