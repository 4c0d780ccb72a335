// The zip reader against archives of other programs, the real gazetteer
// archives, and damaged or hostile archives made byte by byte.

#include "test_main.h"
#include "test_support.h"
#include "zip_builder.h"
#include "zip/zip_archive.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(testsupport::Member)

using namespace gnis;
using namespace testsupport;

namespace {

// Every file below a folder (hidden ones too, so leftovers show) with its bytes.
QMap<QString, QByteArray> tree(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[QDir(root).relativeFilePath(path)] = readAll(path);
    }
    return files;
}

// What one extraction said: its status texts and progress as they came, then
// each failure as "error N: message" (N the reason's number).
struct Extraction {
    bool opened = false;
    bool extracted = false; // the walk went over every entry
    QStringList events;
    QString archive;
};

Extraction extractFile(const QString& archive, const QString& folder, bool keepFolders = true, bool overwrite = true) {
    Extraction o;
    o.archive = archive;
    ZipExtractionClass zip;
    const gnis::Outcome opened = zip.OpenZip(archive.toStdString());
    o.opened = opened.ok();
    if (!opened) {
        o.events << "error open: " + QString::fromStdString(opened.error());
        return o;
    }
    ExtractOptions options;
    options.keepFolders = keepFolders;
    options.overwrite = overwrite;
    options.status = [&o](const std::string& text) { o.events << QString::fromStdString(text); };
    options.progress = [&o](int percent) { o.events << "progress " + QString::number(percent); };
    const ExtractResult result = zip.Extract(folder.toStdString(), options);
    o.extracted = result.complete;
    for (const ZipProblem& p : result.failures)
        o.events << "error " + QString::number(int(p.reason)) + ": " + QString::fromStdString(p.message);
    return o;
}

Extraction extractBytes(const QByteArray& bytes, const QString& folder, bool keepFolders = true, bool overwrite = true) {
    QTemporaryDir dir;
    writeAll(dir.path() + "/a.zip", bytes);
    return extractFile(dir.path() + "/a.zip", folder, keepFolders, overwrite);
}

QStringList errorsOf(const Extraction& o) { return o.events.filter(QRegularExpression("^error ")); }

// The source tree the interoperability cases archive with each program.
QMap<QString, QByteArray> makeSource(const QString& root) {
    QMap<QString, QByteArray> files;
    QByteArray noise(300 * 1024, '\0');
    QRandomGenerator rng(42);
    for (auto& c : noise)
        c = char(rng.bounded(256));
    QByteArray text;
    for (int i = 0; i < 40000; ++i)
        text += "607448|Mount Greylock " + QByteArray::number(i) + "|Summit|MA|25\r\n";
    files["readme.txt"] = "hello\n";
    files["data/sub/noise.bin"] = noise;
    files["data/big.txt"] = text;
    files["Ménard ünïcödé.txt"] = "accents\n";
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QDir().mkpath(QFileInfo(root + "/" + it.key()).path());
        writeAll(root + "/" + it.key(), it.value());
    }
    files["empty.txt"] = ""; // empty files and folders are part of what was archived
    writeAll(root + "/empty.txt", "");
    QDir().mkpath(root + "/emptydir");
    return files;
}

} // namespace

class ZipTest : public QObject {
    Q_OBJECT
private slots:
    void otherProgramsArchives_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("command"); // SRC and OUT stand for the folder and the archive
        const QString script = sourceDir() + "/tests/support/make_zip.py";
        for (const char* style : {"stored", "deflated", "streamed", "comment"})
            QTest::newRow(qPrintable(QString("python zipfile ") + style))
                << "python3" << QStringList{"python3", script, style, "SRC", "OUT"};
        QTest::newRow("Info-ZIP zip") << "zip" << QStringList{"zip", "-q", "-r", "OUT", "."};
        QTest::newRow("Info-ZIP zip, ZIP64 records") << "zip" << QStringList{"zip", "-q", "-r", "-fz", "OUT", "."};
        QTest::newRow("7z") << "7z" << QStringList{"7z", "a", "-tzip", "-bd", "OUT", "."};
        QTest::newRow("bsdtar") << "bsdtar" << QStringList{"bsdtar", "--format", "zip", "-cf", "OUT", "."};
    }
    void otherProgramsArchives() {
        QFETCH(QString, tool);
        QFETCH(QStringList, command);
        REQUIRE_TOOL(tool);
        QTemporaryDir src, work;
        const QMap<QString, QByteArray> expected = makeSource(src.path());
        const QString archive = work.path() + "/made.zip";
        command.replaceInStrings("SRC", src.path());
        command.replaceInStrings("OUT", archive);
        const ToolRun made = runTool(command.takeFirst(), command, src.path());
        QVERIFY2(made.exitCode == 0, made.err.constData());
        const Extraction o = extractFile(archive, work.path() + "/out");
        QVERIFY(o.opened);
        QVERIFY(o.extracted);
        QCOMPARE(errorsOf(o), QStringList());
        QCOMPARE(tree(work.path() + "/out"), expected);
        QVERIFY(QFileInfo(work.path() + "/out/emptydir").isDir());
    }

    void otherProgramsOddMembers_data() {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("error");
        QTest::newRow("bzip2 by python zipfile")
            << "python3" << QStringList{"python3", sourceDir() + "/tests/support/make_zip.py", "bzip2", "SRC", "OUT"}
            << "error 4: The compression Method for readme.txt is unsupported";
        QTest::newRow("encrypted by Info-ZIP zip") << "zip" << QStringList{"zip", "-q", "-P", "secret", "OUT", "readme.txt"}
                                                   << "error 8: The file readme.txt is encrypted";
    }
    void otherProgramsOddMembers() {
        QFETCH(QString, tool);
        QFETCH(QStringList, command);
        QFETCH(QString, error);
        REQUIRE_TOOL(tool);
        QTemporaryDir src, work;
        writeAll(src.path() + "/readme.txt", "hello\n");
        command.replaceInStrings("SRC", src.path());
        command.replaceInStrings("OUT", work.path() + "/odd.zip");
        const ToolRun made = runTool(command.takeFirst(), command, src.path());
        QVERIFY2(made.exitCode == 0, made.err.constData());
        const Extraction o = extractFile(work.path() + "/odd.zip", work.path() + "/out");
        QVERIFY(o.extracted);
        QCOMPARE(errorsOf(o), QStringList{error});
        QVERIFY(tree(work.path() + "/out").isEmpty());
    }

    void realGazetteerArchives_data() {
        QTest::addColumn<QString>("archive");
        QTest::addColumn<QString>("member");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<quint32>("crc");
        QTest::newRow("Massachusetts") << sampleArchive() << "MA_Features_20090401.txt" << qint64(3922866) << quint32(0xa4807d4e);
        QTest::newRow("Hawaii") << dataFile("HI_Features_20090401.zip") << "HI_Features_20090401.txt" << qint64(2551902) << quint32(0xcb879e51);
    }
    void realGazetteerArchives() {
        QFETCH(QString, archive);
        QFETCH(QString, member);
        QFETCH(qint64, size);
        QFETCH(quint32, crc);
        QTemporaryDir dir;
        const Extraction o = extractFile(archive, dir.path());
        QVERIFY(o.extracted);
        QCOMPARE(o.events, (QStringList{"Extracting Files", "Extracting .../" + member, "progress 100", "Extraction Complete"}));
        const QByteArray bytes = readAll(dir.path() + "/" + member);
        QCOMPARE(bytes.size(), size);
        QCOMPARE(quint32(crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size()))), crc);
        QCOMPARE(tree(dir.path()).keys(), QStringList{member});
    }

    void percentPerEntry_data() {
        QTest::addColumn<int>("members");
        QTest::addColumn<QStringList>("progress");
        QTest::newRow("eight") << 8 << QStringList{"progress 12", "progress 25", "progress 38", "progress 50",
                                                   "progress 62", "progress 75", "progress 88", "progress 100"};
        QTest::newRow("three") << 3 << QStringList{"progress 33", "progress 67", "progress 100"};
    }
    void percentPerEntry() {
        QFETCH(int, members);
        QFETCH(QStringList, progress);
        Archive a;
        for (int i = 0; i < members; ++i)
            a.members << Member{"f" + QByteArray::number(i), "x"};
        QTemporaryDir dir;
        const Extraction o = extractBytes(a.bytes(), dir.path());
        QCOMPARE(o.events.filter("progress"), progress);
        QCOMPARE(tree(dir.path()).size(), members);
    }

    void eventSequence() {
        // The empty file made, the folder silently, a line and a step of progress each.
        Archive a;
        a.members << Member{"a/b/c.txt", "abc"} << Member{"folder/", ""} << Member{"empty.txt", ""}
                  << Member{"d.txt", "d", 0};
        QTemporaryDir dir;
        const Extraction o = extractBytes(a.bytes(), dir.path());
        QVERIFY(o.extracted);
        QCOMPARE(o.events, (QStringList{"Extracting Files", "Extracting .../a/b/c.txt", "progress 25", "progress 50",
                                        "Extracting .../empty.txt", "progress 75", "Extracting .../d.txt",
                                        "progress 100", "Extraction Complete"}));
        QCOMPARE(readAll(dir.path() + "/a/b/c.txt"), QByteArray("abc"));
        QVERIFY(QFileInfo(dir.path() + "/folder").isDir());
    }

    void openFailures() {
        QTemporaryDir dir;
        Archive a;
        a.members << Member{"x.txt", "x"};
        a.comment = QByteArray(100, 'c'); // the backward search passes over a comment
        writeAll(dir.path() + "/a.zip", a.bytes());
        writeAll(dir.path() + "/three", "PK\x05");
        ZipExtractionClass zip;
        QVERIFY(zip.OpenZip((dir.path() + "/a.zip").toStdString()).ok());
        QVERIFY(zip.OpenZip((dir.path() + "/a.zip").toStdString()).ok()); // again: the first one closed
        QCOMPARE(zip.OpenZip((dir.path() + "/three").toStdString()).error(),
                 "The file " + (dir.path() + "/three").toStdString() + " is not a Zip file");
        const ExtractResult none = zip.Extract(dir.path().toStdString());
        QVERIFY(!none.complete && none.failures.size() == 1 && none.failures[0].reason == ZipFailure::NotOpen);
        QCOMPARE(zip.OpenZip((dir.path() + "/missing.zip").toStdString()).error(),
                 "The file " + (dir.path() + "/missing.zip").toStdString() + " doesn't exist");
        QVERIFY(zip.OpenZip((dir.path() + "/a.zip").toStdString()).ok()); // destroyed with an archive open
        QCOMPARE(ZLibVersion(), std::string(ZLIB_VERSION));
    }

    void emptyArchiveAndOtherDisk() {
        QTemporaryDir dir;
        Extraction o = extractBytes(Archive{}.bytes(), dir.path());
        QVERIFY(o.extracted);
        QCOMPARE(o.events, (QStringList{"Extracting Files", "Extraction Complete"}));
        Archive other;
        other.members << Member{"x.txt", "x"};
        other.centralDisk = 1;
        o = extractBytes(other.bytes(), dir.path());
        QVERIFY(o.opened);
        QVERIFY(!o.extracted);
        QCOMPARE(errorsOf(o), QStringList{"error 7: The file " + o.archive + " is spread over several disks, which can't be read"});
        QVERIFY(tree(dir.path()).isEmpty());
    }

    void exactly65535Members() {
        // The count's all-ones value is a real count here: packers add a ZIP64 record only past it.
        Archive a;
        for (int i = 0; i < 65535; ++i)
            a.members << Member{"m/" + QByteArray::number(i), i == 65534 ? "last" : "", 0};
        QTemporaryDir dir;
        writeAll(dir.path() + "/a.zip", a.bytes());
        ZipExtractionClass zip;
        QVERIFY(zip.OpenZip((dir.path() + "/a.zip").toStdString()).ok());
        int members = 0;
        QVERIFY(zip.ForEachMember([&](const ZipMember&) { return ++members > 0; }).ok());
        QCOMPARE(members, 65535);
    }

    void flatAndOverwrite() {
        Archive a;
        a.members << Member{"x/d.txt", "first"} << Member{"y/d.txt", "second"};
        QTemporaryDir keep, replace;
        Extraction o = extractBytes(a.bytes(), keep.path(), false, false);
        QVERIFY(o.extracted);
        QCOMPARE(errorsOf(o), QStringList{"error 11: The file " + keep.path() + "/d.txt already exists"});
        QCOMPARE(tree(keep.path()), (QMap<QString, QByteArray>{{"d.txt", "first"}}));
        o = extractBytes(a.bytes(), replace.path(), false, true);
        QCOMPARE(errorsOf(o), QStringList());
        QVERIFY(o.events.contains("Extracting .../d.txt"));
        QCOMPARE(tree(replace.path()), (QMap<QString, QByteArray>{{"d.txt", "second"}}));
    }

    void targetFolderCannotBeMade() {
        QTemporaryDir dir;
        Archive a;
        a.members << Member{"x.txt", "x"};
        const QString target = dir.path() + "/missing/parent";
        const Extraction o = extractBytes(a.bytes(), target);
        QVERIFY(!o.extracted);
        QCOMPARE(errorsOf(o), QStringList{"error 13: Can't create the folder " + target});
    }

    void memberFailures_data() {
        QTest::addColumn<Member>("bad");
        QTest::addColumn<QString>("error");
        const QByteArray big(100000, 'g');
        QTest::newRow("unsupported method") << Member{"dir/odd.bin", "data", 12}
                                            << "error 4: The compression Method for dir/odd.bin is unsupported";
        QTest::newRow("deflated CRC wrong") << Member{"bad.txt", big, 8, 0, 20, 0, false, -1, 0x1234}
                                            << "error 5: Data checksum error in OUT/bad.txt";
        QTest::newRow("stored CRC wrong") << Member{"bad.txt", big, 0, 0, 20, 0, false, -1, 0x1234}
                                          << "error 5: Data checksum error in OUT/bad.txt";
        QTest::newRow("inflates to more than declared") << Member{"bad.txt", big, 8, 0, 20, 0, false, 1000}
                                                        << "error 5: Data checksum error in OUT/bad.txt";
        QTest::newRow("inflates to less than declared") << Member{"bad.txt", big, 8, 0, 20, 0, false, 200000}
                                                        << "error 5: Data checksum error in OUT/bad.txt";
        QTest::newRow("encrypted") << Member{"secret.txt", "s", 0, 0x0001}
                                   << "error 8: The file secret.txt is encrypted";
        QTest::newRow("parent part") << Member{"../evil.txt", "e"} << "error 6: The file ../evil.txt is unsafe";
        QTest::newRow("parent part inside") << Member{"a/../../evil.txt", "e"}
                                            << "error 6: The file a/../../evil.txt is unsafe";
        QTest::newRow("backslash parent") << Member{"..\\evil.txt", "e"} << "error 6: The file ..\\evil.txt is unsafe";
        QTest::newRow("absolute") << Member{"/tmp/evil.txt", "e"} << "error 6: The file /tmp/evil.txt is unsafe";
        QTest::newRow("drive letter") << Member{"C:\\evil.txt", "e"} << "error 6: The file C:\\evil.txt is unsafe";
        QTest::newRow("symbolic link member") << Member{"link", "/etc", 0, 0, 0x031E, 0120777u << 16}
                                              << "error 6: The file link is unsafe";
        QTest::newRow("folder level is a file") << Member{"good.txt/inner.txt", "x"}
                                                << "error 9: Can't write the file OUT/good.txt/inner.txt";
    }
    void memberFailures() {
        QFETCH(Member, bad);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QString out = dir.path() + "/out";
        Archive a;
        a.members << Member{"good.txt", "kept"} << bad << Member{"after.txt", "walk goes on"};
        const Extraction o = extractBytes(a.bytes(), out);
        QVERIFY(o.extracted); // one member's trouble does not stop the walk
        QCOMPARE(errorsOf(o), QStringList{error.replace("OUT", out)});
        // Nothing but the good members, nothing outside, no partial files.
        QCOMPARE(tree(dir.path()), (QMap<QString, QByteArray>{{"out/good.txt", "kept"}, {"out/after.txt", "walk goes on"}}));
    }

    void namesAndTargets() {
        Archive a;
        a.members << Member{"caf\x82/\x81" "ber.txt", "cp437"}            // old DOS tools: code page 437
                  << Member{"M\xC3\xA9" "nard.txt", "utf8", 8, 0x0800}    // flagged UTF-8
                  << Member{"win\\dows\\path.txt", "backslashes"}
                  << Member{"taken", "a folder is in the way"};
        QTemporaryDir dir;
        QDir().mkpath(dir.path() + "/taken/inside");
        const Extraction o = extractBytes(a.bytes(), dir.path());
        QCOMPARE(errorsOf(o), QStringList{"error 9: Can't write the file " + dir.path() + "/taken"});
        QCOMPARE(tree(dir.path()), (QMap<QString, QByteArray>{{"café/über.txt", "cp437"},
                                                              {"Ménard.txt", "utf8"},
                                                              {"win/dows/path.txt", "backslashes"}}));
    }

    void linkInTargetDoesNotRedirect() {
        QTemporaryDir dir, outside;
        const QString out = dir.path() + "/out";
        QDir().mkpath(out);
        QVERIFY(QFile::link(outside.path(), out + "/sub"));
        writeAll(outside.path() + "/victim.txt", "precious");
        QVERIFY(QFile::link(outside.path() + "/victim.txt", out + "/victim.txt"));
        Archive a;
        a.members << Member{"sub/planted.txt", "x"} << Member{"victim.txt", "overwritten?"};
        const Extraction o = extractBytes(a.bytes(), out);
        QCOMPARE(errorsOf(o), QStringList{"error 6: The file sub/planted.txt is unsafe"});
        QCOMPARE(tree(outside.path()), (QMap<QString, QByteArray>{{"victim.txt", "precious"}}));
        // The link itself was replaced by the member, not written through.
        QVERIFY(!QFileInfo(out + "/victim.txt").isSymLink());
        QCOMPARE(readAll(out + "/victim.txt"), QByteArray("overwritten?"));
        // Told to keep what exists, a link counts as existing.
        QVERIFY(QFile::remove(out + "/victim.txt") && QFile::link(outside.path() + "/victim.txt", out + "/victim.txt"));
        QCOMPARE(errorsOf(extractBytes(a.bytes(), out, true, false)).last(), "error 11: The file " + out + "/victim.txt already exists");
        QVERIFY(QFileInfo(out + "/victim.txt").isSymLink());
    }

    void lastMatchAcrossTheBufferEnd() {
        // A member whose last match spans the end of a 256 KiB read: zlib has taken all
        // the input by then and still owes output, which must not read as "cut off".
        const QByteArray line = "205110|Appalachian National Scenic Trail|Trail|MA|25|Berkshire|003\r\n";
        Archive a;
        for (int k = 1; k < 250; k += 7) {
            QByteArray data = line.repeated((256 * 1024 + k - 250) / line.size());
            data += QByteArray(256 * 1024 + k - 250 - data.size(), '\n') + QByteArray(250, 'X');
            a.members << Member{"m" + QByteArray::number(k) + ".txt", data};
        }
        QTemporaryDir dir;
        const Extraction o = extractBytes(a.bytes(), dir.path());
        QVERIFY(o.extracted);
        QCOMPARE(errorsOf(o), QStringList{});
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), a.members.size());
    }

    void overlappingMembersAndTooMuchRefusedBeforeWriting() {
        // Forty central entries sharing one local entry: 67 KB that would unpack to gigabytes.
        Archive a;
        for (int i = 0; i < 40; ++i)
            a.members << Member{"m" + QByteArray::number(i % 10) + QByteArray::number(i / 10) + ".txt", QByteArray(5000, 'b')};
        QByteArray bytes = a.bytes();
        const auto endAt = bytes.size() - 22;
        qsizetype central = qsizetype(quint8(bytes[endAt + 16]) | (quint8(bytes[endAt + 17]) << 8) |
                                      (quint8(bytes[endAt + 18]) << 16));
        for (int i = 0; i < 40; ++i, central += 46 + 7) // every entry's local header offset: 0
            for (int k = 0; k < 4; ++k)
                bytes[central + 42 + k] = 0;
        QTemporaryDir dir;
        Extraction o = extractBytes(bytes, dir.path());
        QVERIFY(!o.extracted);
        QCOMPARE(errorsOf(o), QStringList{"error 7: The file " + o.archive + " is damaged: its members overlap"});
        QVERIFY(tree(dir.path()).isEmpty());

        // A limit on the total, checked against what the central directory declares.
        writeAll(dir.path() + "/a.zip", a.bytes());
        ZipExtractionClass zip;
        auto refusal = [&](const QString& archive) {
            [&] { QVERIFY(zip.OpenZip((dir.path() + archive).toStdString()).ok()); }();
            const ExtractResult r = zip.Extract((dir.path() + "/out").toStdString());
            return !r.complete && r.failures.size() == 1 && r.failures[0].reason == ZipFailure::TooLarge
                       ? QString::fromStdString(r.failures[0].message)
                       : QString("not refused");
        };
        zip.setMaxTotalBytes(100000);
        QCOMPARE(refusal("/a.zip"), "The file " + dir.path() + "/a.zip would unpack to 200000 bytes, more than the 100000 allowed");
        QVERIFY(tree(dir.path() + "/out").isEmpty());
        zip.setMaxTotalBytes(ZipExtractionClass::kDefaultMaxTotalBytes);
        zip.setMaxMembers(39); // and on the count of members, which the check keeps in memory
        QCOMPARE(refusal("/a.zip"), "The file " + dir.path() + "/a.zip has 40 members, more than the 39 allowed");

        // And on the expansion of a large one: a few hundred bytes that declare 100 MiB.
        Archive bomb;
        Member zeros{"zeros.bin", "0"};
        zeros.declaredSize = 100 << 20;
        bomb.members << zeros;
        writeAll(dir.path() + "/bomb.zip", bomb.bytes());
        QVERIFY2(refusal("/bomb.zip").contains("would unpack to 104857600 bytes, more than 200 times its own"),
                 qPrintable(refusal("/bomb.zip")));
        QVERIFY(tree(dir.path() + "/out").isEmpty());

        // Or two ZIP64 sizes whose sum wraps around to nothing.
        Archive wrap;
        for (const char* name : {"a.bin", "b.bin"}) {
            Member m{name, "0"};
            m.wideSize = std::uint64_t(1) << 63;
            wrap.members << m;
        }
        writeAll(dir.path() + "/wrap.zip", wrap.bytes());
        QVERIFY2(refusal("/wrap.zip").contains("would unpack to 18446744073709551615 bytes"), qPrintable(refusal("/wrap.zip")));
        QVERIFY(tree(dir.path() + "/out").isEmpty());
    }

    void folderSwappedForALinkMidway() {
        // Between the check of a member's folders and its write, the folder becomes a link.
        QTemporaryDir dir;
        const QString out = dir.path() + "/out", outside = dir.path() + "/outside";
        QVERIFY(QDir().mkpath(outside));
        Archive a;
        a.members << Member{"a/one.txt", "1"} << Member{"a/two.txt", "2"};
        writeAll(dir.path() + "/a.zip", a.bytes());
        ExtractOptions swapping;
        swapping.status = [&](const std::string& text) {
            if (text == "Extracting .../a/two.txt") {
                QDir().rename(out + "/a", out + "/a-moved");
                QFile::link(outside, out + "/a");
            }
        };
        ZipExtractionClass zip;
        QVERIFY(zip.OpenZip((dir.path() + "/a.zip").toStdString()).ok());
        QVERIFY(zip.Extract(out.toStdString(), swapping).complete);
        QVERIFY(QDir(outside).isEmpty()); // nothing written through the link
        QCOMPARE(readAll(out + "/a-moved/two.txt"), QByteArray("2"));
    }

    void bombStopsAtDeclaredSize() {
        // 256 MiB of zeros declared as 1000 bytes: refused as soon as it passes the size.
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
        QByteArray zeros(1 << 20, '\0'), packed(1 << 20, '\0');
        QByteArray payload;
        for (int i = 0; i < 256; ++i) {
            z.next_in = reinterpret_cast<Bytef*>(zeros.data());
            z.avail_in = uInt(zeros.size());
            do {
                z.next_out = reinterpret_cast<Bytef*>(packed.data());
                z.avail_out = uInt(packed.size());
                deflate(&z, i == 255 ? Z_FINISH : Z_NO_FLUSH);
                payload += packed.left(packed.size() - qsizetype(z.avail_out));
            } while (z.avail_out == 0);
        }
        deflateEnd(&z);
        // The builder deflates what it is given, so hand it the stream as a stored member and patch the method.
        Archive a;
        a.members << Member{"bomb.txt", payload, 0, 0, 20, 0, false, 1000, 0};
        QByteArray bytes = a.bytes();
        bytes[8] = 8;                                // local header method
        bytes[30 + 8 + payload.size() + 10] = 8;     // central header method
        QTemporaryDir dir;
        const Extraction o = extractBytes(bytes, dir.path());
        QCOMPARE(errorsOf(o), QStringList{"error 5: Data checksum error in " + dir.path() + "/bomb.txt"});
        QVERIFY(tree(dir.path()).isEmpty());
        // Streamed, as the conversion reads a state's text: no byte past the declared size is handed out.
        QTemporaryDir in;
        writeAll(in.path() + "/bomb.zip", bytes);
        ZipExtractionClass zip;
        QVERIFY(zip.OpenZip((in.path() + "/bomb.zip").toStdString()).ok());
        ZipMember member;
        QVERIFY(zip.ForEachMember([&](const ZipMember& m) { member = m; return false; }).ok());
        const auto reader = zip.OpenMember(member);
        char buffer[4096];
        std::uint64_t handedOut = 0;
        std::ptrdiff_t n = 0;
        while ((n = reader->read(buffer, sizeof buffer)) > 0)
            handedOut += std::uint64_t(n);
        QCOMPARE(n, std::ptrdiff_t(-1));
        QVERIFY2(handedOut <= 1000, qPrintable(QString::number(handedOut)));
        QCOMPARE(reader->failure(), ZipFailure::Checksum);
    }

    void truncatedAndFlipped() {
        Archive a;
        a.members << Member{"one.txt", QByteArray(2000, '1')} << Member{"two.txt", QByteArray(300, '2'), 0};
        const QByteArray good = a.bytes();
        const QMap<QString, QByteArray> originals{{"one.txt", QByteArray(2000, '1')}, {"two.txt", QByteArray(300, '2')}};
        QTemporaryDir dir;
        const QString out = dir.path() + "/out";
        auto check = [&](const QByteArray& bytes, const QString& what, bool mustFail) {
            QDir(out).removeRecursively();
            const Extraction o = extractBytes(bytes, out);
            if (mustFail && (o.extracted || errorsOf(o).isEmpty()))
                return QString("%1: no error (%2)").arg(what, o.events.join(" | "));
            // Whatever was written is exactly a member's content (names carry no
            // checksum, so a flipped name byte may rename it), and no partial file is left.
            const auto written = tree(out);
            for (auto it = written.cbegin(); it != written.cend(); ++it) {
                if (!originals.values().contains(it.value()) || it.key().contains(".tmp-"))
                    return QString("%1: wrote %2 wrongly").arg(what, it.key());
            }
            return QString();
        };
        for (qsizetype cut = 0; cut < good.size(); ++cut) {
            const QString problem = check(good.left(cut), QString("cut at %1").arg(cut), true);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
        for (qsizetype at = 0; at < good.size(); ++at) {
            QByteArray flipped = good;
            flipped[at] = char(flipped[at] ^ 0x5A);
            const QString problem = check(flipped, QString("byte %1 flipped").arg(at), false);
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        }
    }

    void damagedStructure_data() {
        QTest::addColumn<int>("field");   // offset of a 32-bit field to overwrite; negative counts from the end
        QTest::addColumn<quint32>("value");
        QTest::addColumn<QStringList>("written");
        // Layout: local one.txt at 0 (30 + 7 + data), local two.txt, central one.txt, central two.txt, end record.
        QTest::newRow("central directory offset beyond the file") << -6 << quint32(0x7FFFFF00) << QStringList{};
        QTest::newRow("ZIP64 central directory offset") << -6 << quint32(0xFFFFFFFF) << QStringList{};
        // A damaged central directory is found before anything is written.
        QTest::newRow("more entries than the directory holds") << -12 << quint32(0x00030003) << QStringList{};
        QTest::newRow("second central signature wrong") << 1000 << quint32(0x02014B51) << QStringList{};
        QTest::newRow("local header offset beyond the file") << 1042 << quint32(0x7FFFFFF0) << QStringList{};
        QTest::newRow("local signature wrong") << 0 << quint32(0x04034B51) << QStringList{};
    }
    void damagedStructure() {
        QFETCH(int, field);
        QFETCH(quint32, value);
        QFETCH(QStringList, written);
        Archive a;
        a.members << Member{"one.txt", QByteArray(2000, '1')} << Member{"two.txt", QByteArray(300, '2'), 0};
        QByteArray bytes = a.bytes();
        const auto endAt = bytes.size() - 22;
        const auto centralAt = qsizetype(quint8(bytes[endAt + 16]) | (quint8(bytes[endAt + 17]) << 8));
        // 1000 and 1042 stand for the second central record and its local header offset field.
        qsizetype at = field < 0 ? bytes.size() + field : field;
        if (field >= 1000)
            at = centralAt + 46 + 7 + (field - 1000);
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((value >> (8 * i)) & 0xFF);
        QTemporaryDir dir;
        writeAll(dir.path() + "/a.zip", bytes);
        const Extraction o = extractFile(dir.path() + "/a.zip", dir.path() + "/out");
        QVERIFY(o.opened);
        QVERIFY(!o.extracted);
        QCOMPARE(errorsOf(o), QStringList{"error 7: The file " + dir.path() + "/a.zip is damaged"});
        QVERIFY(!o.events.contains("Extraction Complete"));
        QCOMPARE(tree(dir.path() + "/out").keys(), written);
    }
};

GNIS_TEST_CLASS(ZipTest)
#include "test_zip.moc"
