// The small pure pieces of the conversion: class table, name cleaning, text
// decoding, number checks and the state catalogue.

#include "gazetteer/class_table.h"
#include "gazetteer/clean_text.h"
#include "gazetteer/gnis_records.h"
#include "gazetteer/map_type.h"
#include "gazetteer/states.h"
#include "gazetteer/text_lines.h"
#include "test_main.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>

#include <set>

#include <string>
#include <vector>

using namespace gnis;

namespace {

class StringSource : public ByteSource {
public:
    StringSource(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
    std::ptrdiff_t read(char* buffer, std::size_t size) override {
        const std::size_t n = std::min({size, chunk_, bytes_.size() - pos_});
        std::copy_n(bytes_.data() + pos_, n, buffer);
        pos_ += n;
        return static_cast<std::ptrdiff_t>(n);
    }

private:
    std::string bytes_;
    std::size_t chunk_;
    std::size_t pos_ = 0;
};

std::string utf16(const std::u16string& text, bool littleEndian, bool bom = true) {
    std::string out;
    std::u16string all = bom ? u"\uFEFF" + text : text;
    for (char16_t u : all) {
        const char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
        out += littleEndian ? lo : hi;
        out += littleEndian ? hi : lo;
    }
    return out;
}

// The lines as a reader hands them out; with readAhead, through the reading thread.
QStringList readLines(const std::string& bytes, std::size_t chunk, bool readAhead = false) {
    StringSource source(bytes, chunk);
    QStringList lines;
    TextLineReader::Line line;
    auto take = [&](auto& reader) {
        while (reader.next(line))
            lines << (line.tooLong ? QStringLiteral("<too long>")
                                   : QString::fromUtf8(line.text.data(), qsizetype(line.text.size())));
        if (reader.failed())
            lines << "<failed>";
    };
    if (readAhead) {
        ReadAheadLineReader reader(source);
        take(reader);
    } else {
        TextLineReader reader(source);
        take(reader);
    }
    return lines;
}

} // namespace

class TextTest : public QObject {
    Q_OBJECT
private slots:
    void mapType_data() {
        QTest::addColumn<QString>("cls");
        QTest::addColumn<QString>("code");
        QTest::newRow("capitalised") << "Summit" << "0x6616";
        QTest::newRow("two words") << "Populated Place" << "0x0D00";
        QTest::newRow("real dam class") << "Dam" << "0x5500";
        QTest::newRow("old dam row") << "damn" << "0x5500";
        QTest::newRow("leading space") << " Summit" << "delete";
        QTest::newRow("prefix only") << "Sum" << "delete";
        QTest::newRow("contains") << "Old Mine Shaft" << "delete";
        QTest::newRow("too long") << "populated place and more" << "delete";
    }
    void mapType() {
        QFETCH(QString, cls);
        QFETCH(QString, code);
        const std::string c = cls.toStdString();
        QCOMPARE(QString::fromStdString(std::string(GetMapType(c))), code);
    }

    void cleanText_data() {
        QTest::addColumn<QString>("in");
        QTest::addColumn<QString>("out");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("ligatures grow") << "Æsop æ" << "AEsop ae";
        QTest::newRow("upper half") << "ÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞß" << "CEEEEIIIIDNOOOOOxOUUUUYpB";
        QTest::newRow("lower half") << "àáâãäåçèéêëìíîïðñòóôõöøùúûüýþÿ" << "aaaaaaceeeeiiiionoooooouuuuypy";
        QTest::newRow("division sign kept") << "a÷b" << "a÷b";
        QTest::newRow("beyond Latin-1 kept") << "Hā‘ele‘ele Ridge" << "Hā‘ele‘ele Ridge";
        QTest::newRow("existing entity not recognised") << "A &amp; B" << "A &amp;amp; B";
        QTest::newRow("all four") << "<a href=\"x\">&</a>" << "&lt;a href=&quot;x&quot;&gt;&amp;&lt;/a&gt;";
        QTest::newRow("controls dropped") << QString("a\x01" "b\x1f" "c") << "abc";
        QTest::newRow("noncharacters dropped") << QString("a") + QChar(0xFFFE) + "b" + QChar(0xFFFF) << "ab";
    }
    void cleanText() {
        QFETCH(QString, in);
        QFETCH(QString, out);
        QCOMPARE(QString::fromStdString(CleanText(in.toStdString())), out);
    }

    void utf8Validity_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("four byte") << QByteArray("\xF0\x9F\x97\xBB") << true;
        QTest::newRow("latin1 byte") << QByteArray("caf\xE9 au lait") << false;
        QTest::newRow("overlong") << QByteArray("\xC0\xAF") << false;
        QTest::newRow("surrogate") << QByteArray("\xED\xA0\x80") << false;
        QTest::newRow("cut off") << QByteArray("abc\xE2\x80") << false;
    }
    void utf8Validity() {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(std::string_view(bytes.constData(), std::size_t(bytes.size()))), valid);
    }

    void lineSplitting_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("no final line end") << QByteArray("a\nb") << QStringList{"a", "b"};
        QTest::newRow("lone CR stays") << QByteArray("a\rb\n") << QStringList{"a\rb"};
        QTest::newRow("CR only, as on a classic Mac") << QByteArray("a\rb\r\rc") << QStringList{"a", "b", "", "c"};
        QTest::newRow("blank lines") << QByteArray("a\n\n\r\nb\n") << QStringList{"a", "", "", "b"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("utf8 bom") << QByteArray("\xEF\xBB\xBFh\xC3\xA9\n") << QStringList{"hé"};
        QTest::newRow("mixed encodings per line")
            << QByteArray("Caf\xE9\nCaf\xC3\xA9\n") << QStringList{"Café", "Café"};
        const std::u16string text = u"H\u0101\u2018ele\r\nx\U0001F5FB\r\n";
        QTest::newRow("utf16le") << QByteArray::fromStdString(utf16(text, true))
                                 << QStringList{"Hā‘ele", QString("x") + QString::fromUcs4(U"\U0001F5FB")};
        QTest::newRow("utf16be") << QByteArray::fromStdString(utf16(text, false))
                                 << QStringList{"Hā‘ele", QString("x") + QString::fromUcs4(U"\U0001F5FB")};
        QTest::newRow("utf16 lone surrogate") << QByteArray::fromStdString(utf16(u"a\xD800" "b\n", true))
                                              << QStringList{QString("a") + QChar(0xFFFD) + "b"};
        QTest::newRow("utf16 odd byte at end") << QByteArray::fromStdString(utf16(u"ab", true) + "x")
                                               << QStringList{QString("ab") + QChar(0xFFFD)};
    }
    void lineSplitting() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        // Every chunk size, so lines, surrogate pairs and marks are cut at every point.
        for (std::size_t chunk : {std::size_t(1), std::size_t(2), std::size_t(3), std::size_t(7), std::size_t(4096)})
            QCOMPARE(readLines(bytes.toStdString(), chunk), lines);
        QCOMPARE(readLines(bytes.toStdString(), 3, true), lines);
    }

    void readAheadKeepsEveryLineAcrossBuffers() {
        // Several MiB, so lines straddle many buffers; some lines are Windows-1252 and
        // are handed out from outside the buffers.
        std::string bytes;
        for (int i = 0; bytes.size() < 5 * TextLineReader::kBlockSize; ++i)
            bytes += std::to_string(i) + (i % 97 ? "|Mount|Summit" : "|Caf\xE9") + std::string(std::size_t(i % 300), 'x') + "\r\n";
        bytes += std::string(TextLineReader::kMaxLineLength + 5, 'y') + "\nlast";
        const QStringList expected = readLines(bytes, 4096);
        QVERIFY(expected.size() > 4000 && expected.contains("<too long>"));
        QCOMPARE(readLines(bytes, 4096, true), expected);
        QCOMPARE(readLines(bytes, 100000, true), expected);
        // A consumer that stops early must not leave the reading thread waiting for ever.
        StringSource source(bytes, 4096);
        ReadAheadLineReader reader(source);
        TextLineReader::Line line;
        QVERIFY(reader.next(line) && reader.next(line));
        QCOMPARE(line.number, 2);
    }

    void overlongLineIsReportedAndSkipped() {
        std::string bytes = "first\n" + std::string(TextLineReader::kMaxLineLength + 10, 'x') + "\nlast";
        QCOMPARE(readLines(bytes, 65536), (QStringList{"first", "<too long>", "last"}));
        bytes = "first\n" + std::string(TextLineReader::kMaxLineLength * 3, 'x');
        QCOMPARE(readLines(bytes, 65536), (QStringList{"first", "<too long>"}));
        QCOMPARE(readLines(bytes, 65536, true), (QStringList{"first", "<too long>"}));
    }

    void featureIds() {
        // Either side of the bitmap's end, and ids only a hash table can hold.
        FeatureIdSet ids;
        const std::uint64_t top = (std::uint64_t(1) << 27) - 1;
        using I = FeatureIdSet::Insert;
        for (const std::uint64_t id : {std::uint64_t(0), top, top + 1, ~std::uint64_t(0), std::uint64_t(64)}) {
            QCOMPARE(ids.insert(id), I::Added);
            QCOMPARE(ids.insert(id), I::Present);
        }
        QCOMPARE(ids.size(), std::size_t(5));
        // Large ids are held up to a stated count, then refused; small ones never are.
        for (std::uint64_t id = top + 2; ids.size() < FeatureIdSet::kLargeIdsKept + 3; ++id)
            QCOMPARE(ids.insert(id), I::Added);
        QCOMPARE(ids.insert(~std::uint64_t(1)), I::Full);
        QCOMPARE(ids.insert(top + 1), I::Present);
        QCOMPARE(ids.insert(7), I::Added);
    }

    void elevation_data() {
        QTest::addColumn<QString>("metres");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("feet");
        QTest::newRow("floors first") << "1234.9" << true << 4049;
        QTest::newRow("largest that fits") << "654553014.7" << true << 2147483645;
        QTest::newRow("one metre more") << "654553015" << false << 0;
        QTest::newRow("lowest that fits") << "-654553015" << true << -2147483647 - 1;
        QTest::newRow("one metre less") << "-654553015.5" << false << 0;
    }
    void elevation() {
        QFETCH(QString, metres);
        QFETCH(bool, valid);
        QFETCH(int, feet);
        std::int32_t got = 0;
        QCOMPARE(ElevationFeet(metres.toStdString(), got), valid);
        QCOMPARE(valid ? got : 0, feet);
    }

    void classSetInTheUsersTable_data() {
        QTest::addColumn<QByteArray>("before"); // the table file; null when there is none yet
        QTest::addColumn<QString>("code");
        QTest::addColumn<QByteArray>("after");  // the file afterwards; null: refused and unchanged
        const QByteArray table = "\xEF\xBB\xBF# mine\r\nlake -  # not yet\r\nSummit 0x6616\r\n";
        QTest::newRow("a class left out gets its code, the comment and line ends kept")
            << table << "0x650D" << QByteArray("\xEF\xBB\xBF# mine\r\nLake 0x650D  # not yet\r\nSummit 0x6616\r\n");
        QTest::newRow("a class not listed is added at the end")
            << QByteArray("Summit 0x6616") << "0x650D" << QByteArray("Summit 0x6616\nLake 0x650D\n");
        QTest::newRow("no table yet: the built-in one with the class")
            << QByteArray() << "0x650D" << QByteArray::fromStdString(BuiltInClassTable() + "Lake 0x650D\n");
        QTest::newRow("not a code") << table << "650D" << QByteArray();
        QTest::newRow("a table that does not read") << QByteArray("Summit\n") << "0x650D" << QByteArray();
    }
    void classSetInTheUsersTable() {
        QFETCH(QByteArray, before);
        QFETCH(QString, code);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString file = dir.path() + "/classes.txt";
        QFile f(file);
        if (!before.isNull())
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        f.close();
        const Outcome set = SetClassInTable(file.toStdString(), "Lake", code.toStdString());
        QCOMPARE(set.ok(), !after.isNull());
        QVERIFY(f.open(QIODevice::ReadOnly) || before.isNull());
        QCOMPARE(f.readAll(), after.isNull() ? before : after);
        ClassTable read; // what was written reads as a table with the class on the map
        QVERIFY(after.isNull() || (read.load(file.toStdString()) && read.lookup("lake").code == code.toStdString()));
    }

    void stateCatalogue() {
        // Every state and territory the USGS publishes, and the whole country, once each, in the list's order.
        std::set<std::string_view> codes(stateCodes.begin(), stateCodes.end());
        QCOMPARE(codes.size(), kStateCount);
        for (const char* code : {"DC", "PR", "VI", "AS", "MP", "GU", "US", "WY"})
            QVERIFY2(codes.count(code), code);
        QVERIFY(IsNational(FindState("US")) && !IsNational(FindState("MA")));
        QStringList names;
        LoadStates(names);
        QCOMPARE(names.size(), qsizetype(kStateCount));
        QCOMPARE(names.removeDuplicates(), 0);
        QVERIFY(std::is_sorted(names.begin(), names.end()));
    }

    void findState_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QList<int>>("states"); // empty: refused, the last index then names nothing
        QTest::addColumn<QString>("unknown");
        const int ma = FindState("Massachusetts"), nh = FindState("New Hampshire"), vt = FindState("VT");
        QVERIFY(ma >= 0 && nh >= 0 && vt >= 0);
        QTest::newRow("code lower") << "ma" << QList<int>{ma} << "";
        QTest::newRow("list in the order given") << "VT,ma, New Hampshire" << QList<int>{vt, ma, nh} << "";
        QTest::newRow("repeats once") << "MA,ma,Massachusetts" << QList<int>{ma} << "";
        QTest::newRow("partial name") << "New" << QList<int>{} << "New";
        QTest::newRow("one bad item") << "MA,XX,NH" << QList<int>{} << "XX";
        QTest::newRow("empty item") << "MA,,NH" << QList<int>{} << "";
    }
    void findState() {
        QFETCH(QString, query);
        QFETCH(QList<int>, states);
        QFETCH(QString, unknown);
        std::vector<int> got;
        const Outcome found = FindStates(query.toStdString(), got);
        QCOMPARE(found.ok(), !states.isEmpty());
        if (found)
            QCOMPARE(QList<int>(got.begin(), got.end()), states);
        else
            QVERIFY2(QString::fromStdString(found.error()).startsWith("unknown state '" + unknown + "';"), found.error().c_str());
    }
};

GNIS_TEST_CLASS(TextTest)
#include "test_text.moc"
