#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>

#include "registry/ServerRegistry.h"
#include "support/FileSizeLimit.h"
#include "support/TestFiles.h"

static void PrintTo(const QString& text, std::ostream* os) {
    *os << '"' << text.toStdString() << '"';
}

static void PrintTo(const RegistryRecord& r, std::ostream* os) {
    *os << '{' << r.name.toStdString() << '|' << r.entry.IP.toStdString() << '|'
        << r.entry.USERID.toStdString() << '|' << r.entry.PASSWD.toStdString() << '}';
}

namespace {

using Records = std::vector<RegistryRecord>;

RegistryRecord rec(const char* name, const char* ip, const char* user, const char* password) {
    return {QString::fromUtf8(name),
            {QString::fromUtf8(ip), QString::fromUtf8(user), QString::fromUtf8(password)}};
}

// The text of the RegistryError an operation throws, or "no error".
template <typename Operation>
QString errorOf(Operation operation) {
    try {
        operation();
    } catch (const RegistryError& error) {
        return error.text();
    }
    return QStringLiteral("no error");
}

TServerEntry entry(const char* ip, const char* user, const char* password) {
    return rec("", ip, user, password).entry;
}

const QByteArray kA = "<HOST NAME=\"a\"><IP>ha</IP><USERID>ua</USERID><PASSWD>pa</PASSWD></HOST>";
const QByteArray kB = "<HOST NAME=\"b\"><IP>hb</IP><USERID>ub</USERID><PASSWD>pb</PASSWD></HOST>";
const QByteArray kC = "<HOST NAME=\"c\"><IP>hc</IP><USERID>uc</USERID><PASSWD>pc</PASSWD></HOST>";
const Records kABC = {rec("a", "ha", "ua", "pa"), rec("b", "hb", "ub", "pb"),
                      rec("c", "hc", "uc", "pc")};

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    void put(const QByteArray& bytes) const { writeFile(path, bytes); }
    QByteArray bytes() const { return readFile(path); }
    unsigned mode() const {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
    }
    QStringList dirEntries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("HostInfor.Dat"));
    ServerRegistry registry{path};
};

// Records stand anywhere between blanks and line breaks, or directly behind each other.
class SeparatorTest : public RegistryTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(SeparatorTest, LoadsEveryRecordInFileOrder) {
    const QByteArray sep = GetParam();
    put(sep + kA + sep + kB + sep + kC + sep);
    EXPECT_EQ(registry.LoadServerRegistry(), kABC);

    // A rewrite reads them the same way and leaves the others in order.
    EXPECT_TRUE(registry.RemoveServerEntry(rec("b", "hb", "ub", "pb")));
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{kABC[0], kABC[2]}));
}

INSTANTIATE_TEST_SUITE_P(Separators, SeparatorTest,
                         ::testing::Values("", "\r\n", "\n", "\r", "\t", " ", " \r\n\t\n  "));

TEST_F(RegistryTest, ChildrenAreReadByNameWhereverTheRecordStands) {
    put("\xEF\xBB\xBF"  // a byte-order mark from an editor is ignored
        "<HOST NAME=\"indented\">\r\n\t<IP>h1</IP>\r\n\t<USERID>u1</USERID>\r\n\t"
        "<PASSWD>p1</PASSWD>\r\n</HOST>"
        "<HOST NAME=\"comment\"><IP>h3</IP><!--u3--><PASSWD>p3</PASSWD></HOST>"
        "<GROUP><HOST NAME=\"nested\"><IP>h4</IP><USERID>u4</USERID><PASSWD/></HOST></GROUP>"
        "<HOST NAME=\"reordered\"><PASSWD>p5</PASSWD><USERID>u5</USERID><IP>h5</IP></HOST>"
        "<HOST NAME=\"extra\"><NOTE>x</NOTE><IP>h6</IP><USERID>u6</USERID><IP>second</IP>"
        "<PASSWD> </PASSWD></HOST>"
        // Made by hand with other names: read by position, as older versions did.
        "<HOST NAME=\"renamed\"><A>h2</A><B>u<i>2</i></B><C> p 2 </C><D>extra</D></HOST>"
        "<HOST><IP>no</IP><USERID>name</USERID><PASSWD>x</PASSWD></HOST>"
        "<HOST NAME=\"short\"><IP>two</IP><USERID>children</USERID></HOST>"
        "text between records");
    EXPECT_EQ(registry.LoadServerRegistry(),
              (Records{rec("indented", "h1", "u1", "p1"), rec("comment", "h3", "", "p3"),
                       rec("nested", "h4", "u4", ""), rec("reordered", "h5", "u5", "p5"),
                       rec("extra", "h6", "u6", " "), rec("renamed", "h2", "u2", " p 2 "),
                       rec("short", "two", "children", "")}));
}

TEST_F(RegistryTest, MissingEmptyAndUnparsableFilesLoadNoRecords) {
    EXPECT_TRUE(registry.LoadServerRegistry().empty());
    EXPECT_FALSE(QFile::exists(path));

    for (const char* empty : {"", " \r\n\t"}) {
        put(empty);
        EXPECT_TRUE(registry.LoadServerRegistry().empty());
        EXPECT_EQ(parseRegistryText(empty), Records{});
    }
    const QByteArray unparsable[] = {
        kA.left(kA.size() - 1),              // cut short
        kA + "<HOST NAME=\"x\"><IP>",        // half a record behind a whole one
        kA + "</HOSTS><HOSTS>",              // closes the wrapper early
        "<?xml version=\"1.0\"?>" + kA,      // a declaration cannot stand inside the wrapper
        "<!DOCTYPE x [<!ENTITY e \"e\">]>",  // nor a DOCTYPE, so no entity expansion
        kA + " & ",
        "<HOST NAME=\"caf\xE9\"><IP>h</IP><USERID>u</USERID><PASSWD>p</PASSWD></HOST>",  // Latin-1
        QByteArray("<HOST NAME=\"a\0\"/>", 17),
    };
    for (const QByteArray& text : unparsable) {
        put(text);
        QString damaged;
        EXPECT_TRUE(registry.LoadServerRegistry(&damaged).empty()) << text.toStdString();
        EXPECT_TRUE(damaged.startsWith("The server list " + QDir::toNativeSeparators(path) +
                                       " is damaged"))
            << damaged.toStdString();
        EXPECT_FALSE(parseRegistryText(text).has_value()) << text.toStdString();
        EXPECT_EQ(bytes(), text);
    }

    // Where the text stops parsing, counted in the file's own lines.
    put(kA + "\n<HOST NAME=\"b\"><IP>h</USERID>");
    QString damaged;
    registry.LoadServerRegistry(&damaged);
    EXPECT_TRUE(damaged.contains(QLatin1String("is damaged (line 2, column "))) << damaged.toStdString();
    // UTF-16 is named, with how to convert it.
    QByteArray utf16 = "\xFF\xFE";
    for (char c : kA) utf16 += QByteArray(1, c) + QByteArray(1, '\0');
    put(utf16);
    registry.LoadServerRegistry(&damaged);
    EXPECT_TRUE(damaged.contains(QLatin1String("UTF-16")) &&
                damaged.contains(QLatin1String("iconv -f UTF-16 -t UTF-8")))
        << damaged.toStdString();
}

// Files no user wrote as a server list: turned away quickly, reported, and never replaced.
TEST_F(RegistryTest, HostileFilesAreReportedWithoutHangingAndKeptAsTheyAre) {
    const QString shown = QDir::toNativeSeparators(path);
    const auto append = [&] { registry.AppendServerEntry("n", entry("h", "u", "p")); };

    // Shapes the XML reader would take minutes over: deep nesting, a tag full of attributes.
    QByteArray deep;
    for (int i = 0; i < 200000; ++i) deep += "<a>";
    QByteArray attributes = "<HOST ";
    for (int i = 0; i < 100000; ++i) attributes += "x" + QByteArray::number(i) + "='1' ";
    attributes += "/>";
    for (const QByteArray& text : {kA + deep, kA + attributes}) {
        EXPECT_FALSE(parseRegistryText(text).has_value());
        put(text);
        QString damaged;
        EXPECT_TRUE(registry.LoadServerRegistry(&damaged).empty());
        EXPECT_FALSE(damaged.isEmpty());
        EXPECT_TRUE(errorOf(append).contains(QStringLiteral("cannot be read as XML")));
        EXPECT_EQ(bytes(), text);
    }
    // Markup the guard skips over still parses as before.
    EXPECT_EQ(parseRegistryText("<!-- <a b='1' c='2' d='3' e='4' f='5'> -->" + kA +
                                "<![CDATA[<<<]]>"),
              (Records{rec("a", "ha", "ua", "pa")}));

    // A huge file is not read at all.
    put(kA);
    ASSERT_TRUE(QFile::resize(path, 50 << 20));
    const QString tooLarge = "Cannot read the server list " + shown + ": at 50 MB it is far larger";
    EXPECT_TRUE(errorOf([&] { registry.LoadServerRegistry(); }).startsWith(tooLarge));
    EXPECT_TRUE(errorOf(append).startsWith(tooLarge));
    EXPECT_TRUE(errorOf([&] { registry.RemoveServerEntry(rec("a", "ha", "ua", "pa")); })
                    .startsWith(tooLarge));
    EXPECT_EQ(QFileInfo(path).size(), 50 << 20);
    ASSERT_TRUE(QFile::remove(path));

    // A pipe must not block the start of the program.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const QString notAFile = "Cannot read the server list " + shown + ": it is not a regular file";
    EXPECT_TRUE(errorOf([&] { registry.LoadServerRegistry(); }).startsWith(notAFile));
    EXPECT_TRUE(errorOf(append).startsWith(notAFile));
}

TEST_F(RegistryTest, AppendCreatesAPrivateFileAndWritesRecordsOnOneLine) {
    ::umask(022);
    registry.AppendServerEntry(QStringLiteral("a"), entry("ha", "ua", "pa"));
    EXPECT_EQ(mode(), 0600u);
    registry.AppendServerEntry(QStringLiteral("b"), entry("hb", "ub", "pb"));
    EXPECT_EQ(bytes(), kA + kB);

    // Appending goes directly behind whatever stands at the end, line breaks included.
    put(kA + "\r\n");
    registry.AppendServerEntry(QStringLiteral("b"), entry("hb", "ub", "pb"));
    EXPECT_EQ(bytes(), kA + "\r\n" + kB);
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{kABC[0], kABC[1]}));
}

TEST_F(RegistryTest, SpecialCharactersAndUtf8SurviveEveryOperation) {
    const Records records = {
        rec("a\"b&<c>'d", "h&<>\"", "u&amp;<", "p\"><&"),
        rec("서버 하나", "호스트", "사용자", "비밀번호"),
        rec("tab\tname", "  ", "\t", ""),  // blank-only values and an empty password
        rec(" spaced ", " h ", "u u", " p"),
        rec("emoji \xF0\x9F\x98\x80", "h", "u", "]]>"),
    };
    for (const RegistryRecord& r : records) registry.AppendServerEntry(r.name, r.entry);
    EXPECT_EQ(registry.LoadServerRegistry(), records);

    const QByteArray raw = bytes();
    EXPECT_TRUE(raw.startsWith("<HOST NAME=\"a&quot;b&amp;&lt;c&gt;'d\"><IP>h&amp;&lt;&gt;"));
    EXPECT_TRUE(raw.contains("<HOST NAME=\"\xEC\x84\x9C\xEB\xB2\x84 \xED\x95\x98\xEB\x82\x98\""));
    EXPECT_TRUE(raw.contains("<PASSWD></PASSWD>"));

    // Update and remove find records by special values and keep the others' values.
    const RegistryRecord changed = rec("새 <이름> & \"따옴표\"", "h2&", "u2<", "p2\">");
    EXPECT_TRUE(registry.UpdateServerEntry(records[0], changed.name, changed.entry));
    EXPECT_EQ(registry.LoadServerRegistry(),
              (Records{changed, records[1], records[2], records[3], records[4]}));
    EXPECT_TRUE(registry.RemoveServerEntry(records[2]));
    EXPECT_TRUE(registry.RemoveServerEntry(changed));
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{records[1], records[3], records[4]}));
    EXPECT_FALSE(bytes().startsWith("\xEF\xBB\xBF"));
}

// Saving one server rewrites its record alone: records this program reads otherwise than
// they were written, comments and line breaks stay byte for byte.
TEST_F(RegistryTest, RewriteChangesOnlyItsOwnRecordAndKeepsTheRestByteForByte) {
    const QByteArray odd =
        "  <HOST NAME=\"a\">\n <NOTE>kept</NOTE><IP>ha</IP>\n <!-- c --><USERID>ua</USERID>\n "
        "<PASSWD>pa</PASSWD>\n</HOST>\n<!-- note --><HOST/>";
    put(odd + kB + "\r\n" + kC + "\n");
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    EXPECT_TRUE(registry.UpdateServerEntry(rec("b", "hb", "ub", "pb"), QStringLiteral("B"),
                                           entry("HB", "UB", "")));
    const QByteArray newB =
        "<HOST NAME=\"B\"><IP>HB</IP><USERID>UB</USERID><PASSWD></PASSWD></HOST>";
    EXPECT_EQ(bytes(), odd + newB + "\r\n" + kC + "\n");
    EXPECT_EQ(mode(), 0600u);
    EXPECT_EQ(registry.LoadServerRegistry(),
              (Records{rec("a", "ha", "ua", "pa"), rec("B", "HB", "UB", ""), kABC[2]}));

    // A record on a line of its own goes with its line break; one within a line alone.
    EXPECT_TRUE(registry.RemoveServerEntry(rec("c", "hc", "uc", "pc")));
    EXPECT_EQ(bytes(), odd + newB + "\r\n");
    EXPECT_TRUE(registry.RemoveServerEntry(rec("B", "HB", "UB", "")));
    EXPECT_EQ(bytes(), odd + "\r\n");
    EXPECT_TRUE(registry.RemoveServerEntry(rec("a", "ha", "ua", "pa")));
    EXPECT_EQ(bytes(), "  \n<!-- note --><HOST/>\r\n");
    EXPECT_EQ(dirEntries(), QStringList{"HostInfor.Dat"});  // no temporary file left behind
}

TEST_F(RegistryTest, EachServerActsOnItsOwnRecordAndOnlyTwinsShareTheFirst) {
    // The same login registered under three names, one of them twice.
    const TServerEntry same = entry("h", "u", "p");
    const Records start = {{"one", same}, rec("other", "h2", "u", "p"), {"two", same},
                           {"two", same}};
    for (const RegistryRecord& r : start) registry.AppendServerEntry(r.name, r.entry);

    EXPECT_TRUE(registry.UpdateServerEntry({"two", same}, QStringLiteral("2"), same));
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{start[0], start[1], {"2", same}, start[3]}));
    EXPECT_TRUE(registry.RemoveServerEntry({"one", same}));
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{start[1], {"2", same}, start[3]}));
    EXPECT_TRUE(registry.RemoveServerEntry({"two", same}));
    EXPECT_EQ(registry.LoadServerRegistry(), (Records{start[1], {"2", same}}));
    EXPECT_FALSE(registry.RemoveServerEntry({"two", same}));
}

TEST_F(RegistryTest, KoreanCodePageFileIsReadKeptAndConvertedOnlyOnRequest) {
    // "서버" and "비밀" in CP949, as older versions wrote them.
    const QByteArray cp949 = "<HOST NAME=\"\xbc\xad\xb9\xf6\"><IP>h</IP><USERID>u</USERID>"
                             "<PASSWD>\xba\xf1\xb9\xd0</PASSWD></HOST><!-- \xb8\xde\xb8\xf0 -->";
    put(cp949);
    RegistryEncoding encoding = RegistryEncoding::Utf8;
    QString damaged;
    EXPECT_EQ(registry.LoadServerRegistry(&damaged, &encoding),
              (Records{rec("서버", "h", "u", "비밀")}));
    EXPECT_EQ(encoding, RegistryEncoding::Cp949);
    EXPECT_TRUE(damaged.isEmpty());
    EXPECT_EQ(bytes(), cp949);  // reading never rewrites

    // Written in the file's own code page until it is converted; a character CP949 lacks is
    // refused with the file untouched.
    registry.AppendServerEntry(QStringLiteral("둘"), entry("h2", "u2", ""));
    EXPECT_EQ(bytes(), cp949 + "<HOST NAME=\"\xb5\xd1\"><IP>h2</IP><USERID>u2</USERID>"
                               "<PASSWD></PASSWD></HOST>");
    const QByteArray before = bytes();
    EXPECT_TRUE(errorOf([&] { registry.AppendServerEntry(QStringLiteral("emoji \U0001F600"),
                                                         entry("h", "u", "p")); })
                    .contains("CP949"));
    EXPECT_EQ(bytes(), before);

    registry.ConvertToUtf8();
    EXPECT_EQ(bytes(), QString::fromUtf8("<HOST NAME=\"서버\"><IP>h</IP><USERID>u</USERID>"
                                         "<PASSWD>비밀</PASSWD></HOST><!-- 메모 --><HOST NAME=\"둘\">"
                                         "<IP>h2</IP><USERID>u2</USERID><PASSWD></PASSWD></HOST>")
                           .toUtf8());
    EXPECT_EQ(registry.LoadServerRegistry(&damaged, &encoding).size(), 2u);
    EXPECT_EQ(encoding, RegistryEncoding::Utf8);

    // Bytes that are neither UTF-8 nor CP949 are damage, as before.
    put("<HOST NAME=\"\xff\xfe\"><IP>h</IP><USERID>u</USERID><PASSWD/></HOST>");
    EXPECT_TRUE(registry.LoadServerRegistry(&damaged).empty());
    EXPECT_FALSE(damaged.isEmpty());
}

TEST_F(RegistryTest, OldValuesThatMatchNoRecordLeaveTheFileAlone) {
    const QByteArray text = kA + "\n" + kB;
    put(text);
    const RegistryRecord misses[] = {
        rec("a", "HA", "ua", "pa"),   // case counts
        rec("a", "ha ", "ua", "pa"),  // so do blanks
        rec("a", "ha", "ua", ""),     // and the password
        rec("a", "hb", "ua", "pa"),   // values of different records do not combine
        rec("b", "ha", "ua", "pa"),   // nor do one record's name and another's values
        rec("A", "ha", "ua", "pa"),
        rec("", "", "", ""),
    };
    for (const RegistryRecord& miss : misses) {
        EXPECT_FALSE(registry.UpdateServerEntry(miss, QStringLiteral("x"), entry("x", "x", "x")));
        EXPECT_FALSE(registry.RemoveServerEntry(miss));
    }
    EXPECT_EQ(bytes(), text);
}

// Writing back what such a file yields (nothing) would erase every registered server.
TEST_F(RegistryTest, MissingOrUnparsableFileIsNeverWritten) {
    const QString shown = QDir::toNativeSeparators(path);
    const auto update = [&] { registry.UpdateServerEntry(rec("a", "ha", "ua", "pa"), "n", {}); };
    const auto remove = [&] { registry.RemoveServerEntry(rec("a", "ha", "ua", "pa")); };
    const auto check = [&] { registry.checkRewritable(); };

    const QString missing = QStringLiteral(
                                "Cannot read the server list %1: No such file or "
                                "directory. Check that the file exists and that you "
                                "may read it.")
                                .arg(shown);
    EXPECT_EQ(errorOf(update), missing);
    EXPECT_EQ(errorOf(remove), missing);
    EXPECT_EQ(errorOf(check), missing);
    EXPECT_FALSE(QFile::exists(path));

    const QByteArray broken =
        kA + "<HOST NAME=\"b\"><IP>hb</IP><USERID>ub</USERID><PASSWD>pb</HOST>";
    put(broken);
    const QString unparsable = QStringLiteral(
                                   "The server list %1 cannot be read as XML; it was "
                                   "left unchanged. Correct or remove the file and try "
                                   "again.")
                                   .arg(shown);
    EXPECT_EQ(errorOf(update), unparsable);
    EXPECT_EQ(errorOf(remove), unparsable);
    EXPECT_EQ(errorOf(check), unparsable);
    EXPECT_EQ(errorOf([&] { registry.AppendServerEntry("c", entry("hc", "uc", "pc")); }),
              unparsable);
    EXPECT_EQ(bytes(), broken);
}

TEST_F(RegistryTest, ValuesXmlCannotHoldAreRefusedBeforeAnyWrite) {
    registry.AppendServerEntry(QStringLiteral("a"), entry("ha", "ua", "pa"));
    const QByteArray before = bytes();
    const struct {
        RegistryRecord record;
        const char* field;
    } refused[] = {
        {rec("line\nbreak", "h", "u", "p"), "server name"},
        {rec("n", "h\r", "u", "p"), "host"},
        {rec("n", "h", "u\x01", "p"), "user id"},
        {{"n", {"h", "u", QString(QChar(0xD800))}}, "password"},  // lone surrogate
        {{"n", {"h", "u", QString(QChar(0xFFFF))}}, "password"},
    };
    for (const auto& [r, field] : refused) {
        const QString expected = QStringLiteral(
                                     "The %1 contains a line break or another control character, "
                                     "which the server list cannot store. Remove it and try again.")
                                     .arg(QLatin1String(field));
        EXPECT_EQ(errorOf([&] { registry.AppendServerEntry(r.name, r.entry); }), expected);
        EXPECT_EQ(
            errorOf([&] { registry.UpdateServerEntry(rec("a", "ha", "ua", "pa"), r.name, r.entry); }),
            expected);
    }
    EXPECT_EQ(bytes(), before);
}

TEST_F(RegistryTest, SettingsGoIntoAChildOlderReadersPassOverAndComeBackAsWritten) {
    TServerEntry full = entry("db:3306", "u", "");
    full.options.password = PasswordStorage::Keyring;
    full.options.keyringId = QStringLiteral("id-1");
    full.options.tls = {db::TlsMode::VerifyCa, QStringLiteral("/ca <&>.pem"), QStringLiteral("c"),
                        QStringLiteral("k")};
    full.options.ssh = {QStringLiteral("bastion"), 2222, QStringLiteral("ops"), QStringLiteral("/k")};
    TServerEntry asked = entry("/run/mysqld/mysqld.sock", "u", "");
    asked.options.password = PasswordStorage::Ask;
    registry.AppendServerEntry(QStringLiteral("full"), full);
    registry.AppendServerEntry(QStringLiteral("asked"), asked);
    registry.AppendServerEntry(QStringLiteral("plain"), entry("h", "u", "p"));
    const QByteArray text = bytes();
    // The three children first, as older readers take them; a record without settings has
    // no fourth child.
    EXPECT_TRUE(text.startsWith("<HOST NAME=\"full\"><IP>db:3306</IP><USERID>u</USERID>"
                                "<PASSWD></PASSWD><OPTIONS><PASSWORD>keyring</PASSWORD>"))
        << text.toStdString();
    EXPECT_TRUE(text.endsWith("<HOST NAME=\"plain\"><IP>h</IP><USERID>u</USERID>"
                              "<PASSWD>p</PASSWD></HOST>"));
    const Records expected = {{QStringLiteral("full"), full},
                              {QStringLiteral("asked"), asked},
                              rec("plain", "h", "u", "p")};
    EXPECT_EQ(registry.LoadServerRegistry(), expected);

    // Found by all its values, settings included.
    TServerEntry moved = full;
    moved.options.ssh = {};
    EXPECT_TRUE(registry.UpdateServerEntry({QStringLiteral("full"), full}, QStringLiteral("full"), moved));
    EXPECT_FALSE(registry.RemoveServerEntry({QStringLiteral("full"), full}));
    EXPECT_EQ(registry.LoadServerRegistry()[0].entry, moved);

    // A TLS mode this version does not know is read as the strictest, unknown elements
    // are passed over.
    put("<HOST NAME=\"n\"><IP>h</IP><USERID>u</USERID><PASSWD></PASSWD><OPTIONS><TLS>quantum</TLS>"
        "<LATER>x</LATER></OPTIONS></HOST>");
    EXPECT_EQ(registry.LoadServerRegistry()[0].entry.options.tls.mode, db::TlsMode::VerifyIdentity);

    TServerEntry control = full;
    control.options.tls.caFile = QStringLiteral("/a\nb");
    EXPECT_EQ(errorOf([&] { registry.AppendServerEntry(QStringLiteral("x"), control); }),
              QStringLiteral("The CA file contains a line break or another control character, "
                             "which the server list cannot store. Remove it and try again."));
}

// The file size limit makes any write fail, even for root, whom permissions do not stop.
TEST_F(RegistryTest, FailedWriteLeavesTheOldFileAndSaysWhy) {
    put(kA + kB);
    std::vector<QString> errors;
    {
        FileSizeLimit limit(16);
        ASSERT_TRUE(limit.ok());
        errors = {
            errorOf([&] { registry.UpdateServerEntry(rec("a", "ha", "ua", "pa"), "x", {}); }),
            errorOf([&] { registry.RemoveServerEntry(rec("b", "hb", "ub", "pb")); }),
            errorOf([&] { registry.AppendServerEntry("c", entry("hc", "uc", "pc")); }),
        };
    }

    for (const QString& text : errors)
        EXPECT_EQ(text, QStringLiteral("Cannot write the server list %1: File too large. Check "
                                       "that you may write to its folder and that the disk is "
                                       "not full; the list was left unchanged.")
                            .arg(QDir::toNativeSeparators(path)));
    EXPECT_EQ(bytes(), kA + kB);
    EXPECT_EQ(dirEntries(), QStringList{"HostInfor.Dat"});
}

TEST_F(RegistryTest, ReadOnlyFolderOrFolderInPlaceOfTheFileIsReported) {
    const QString shown = QDir::toNativeSeparators(path);
    const auto remove = [&] { registry.RemoveServerEntry(rec("a", "ha", "ua", "pa")); };
    const auto append = [&] { registry.AppendServerEntry("b", entry("hb", "ub", "pb")); };
    if (::geteuid() != 0) {  // root writes anyway
        put(kA);
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0500), 0);
        const QString denied = "Cannot write the server list " + shown + ": Permission denied.";
        EXPECT_TRUE(errorOf(remove).startsWith(denied));
        EXPECT_TRUE(errorOf(append).startsWith(denied));
        ASSERT_EQ(::chmod(QFile::encodeName(dir.path()).constData(), 0700), 0);
        EXPECT_EQ(bytes(), kA);
        ASSERT_TRUE(QFile::remove(path));
    }
    // A directory is no empty list: loading it reports instead of showing no servers.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("HostInfor.Dat")));
    const QString unreadable = "Cannot read the server list " + shown + ": ";
    EXPECT_TRUE(errorOf([&] { registry.LoadServerRegistry(); }).startsWith(unreadable));
    EXPECT_TRUE(errorOf(remove).startsWith(unreadable));
    EXPECT_TRUE(errorOf(append).startsWith(unreadable));
    EXPECT_TRUE(QFileInfo(path).isDir());

    // A folder no one may write to, root included: the list reads empty, a new server is
    // refused with the reason.
    ServerRegistry proc(QStringLiteral("/proc/self/HostInfor.Dat"));
    EXPECT_TRUE(proc.LoadServerRegistry().empty());
    EXPECT_TRUE(errorOf([&] { proc.AppendServerEntry("b", entry("hb", "ub", "pb")); })
                    .startsWith(QStringLiteral("Cannot write the server list /proc/self/HostInfor.Dat: ")));
}

}  // namespace
