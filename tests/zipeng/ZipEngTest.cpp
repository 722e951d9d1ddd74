// The two archive libraries against the Debian tools (zip, unzip, 7z,
// Python's zipfile) and against damaged or hostile archives.
#include "OddEntries.h"
#include "platform/zipeng/ZipCore.h"
#include "ZipEngTestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace zipeng;

namespace {

// A tree with a multi-chunk table, incompressible data, an empty file, a
// stored suffix and a sub-directory.
void MakeTree(const fs::path& root)
{
    WriteFile(root / "PATIENT.DBF", TableLike(3'500'000, 1));
    std::string noise(200'000, '\0');
    std::mt19937 g(7);
    for (auto& c : noise)
        c = char(g());
    WriteFile(root / "photo.png", noise);
    WriteFile(root / "EMPTY.TXT", "");
    WriteFile(root / "sub/CONSULT.MDX", TableLike(70'000, 2));
}

void ExpectSameTree(const fs::path& a, const fs::path& b)
{
    for (const auto& e : fs::recursive_directory_iterator(a)) {
        if (!e.is_regular_file())
            continue;
        fs::path rel = fs::relative(e.path(), a);
        ASSERT_TRUE(fs::exists(b / rel)) << rel;
        EXPECT_EQ(ReadFile(e.path()), ReadFile(b / rel)) << rel;
    }
}

std::string Py(const std::string& code)
{
    return "python3 -c '" + code + "'";
}

TEST(ZipEng, OurArchivesPassTheDebianToolsAndComeBackIdentical)
{
    TempDir t;
    MakeTree(t.path / "src");
    Calls add;
    AddRequest q{.archive = t / "a.zip", .fileSpecs = {"*"}, .root = t / "src"};
    ASSERT_EQ(RunAdd(q, add), 4) << add.Messages();
    EXPECT_EQ(Sh("unzip -tq " + q.archive), 0);
    EXPECT_EQ(Sh("7z t " + q.archive), 0);
    ASSERT_EQ(Sh(Py("import zipfile,sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])") + " " + q.archive +
                  " " + (t / "py")),
        0);
    ExpectSameTree(t.path / "src", t.path / "py");

    // the progress sequence: totals first, each file announced in archive order, bytes adding up
    ASSERT_GE(add.records.size(), 4u);
    EXPECT_EQ(add.records[0].action, actTotalFiles);
    EXPECT_EQ(add.records[0].value2, 4);
    EXPECT_EQ(add.records[1].action, actTotalSize);
    intptr_t bytes = 0;
    std::vector<std::string> names;
    for (const auto& r : add.records) {
        if (r.action == actProgress)
            bytes += r.value2;
        if (r.action == actNewFile)
            names.push_back(r.text);
    }
    EXPECT_EQ(bytes, add.records[1].value2);
    EXPECT_EQ(names, (std::vector<std::string>{"EMPTY.TXT", "PATIENT.DBF", "photo.png", "sub/CONSULT.MDX"}));
    EXPECT_EQ(add.records.back().action, actEndOfBatch);

    Calls ex;
    ExtractRequest x{.archive = q.archive, .baseDir = t / "out"};
    EXPECT_EQ(RunExtract(x, ex), 4) << ex.Messages();
    ExpectSameTree(t.path / "src", t.path / "out");
    EXPECT_EQ(ex.Count(actNewFile), 4);
    EXPECT_EQ(ex.records.back().action, actEndOfBatch);
    // nothing is left beside the extracted files
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(t.path / "out"))
        files += e.is_regular_file();
    EXPECT_EQ(files, 4);

    // the png is stored, the table deflated to much less than its size
    ASSERT_EQ(Sh("unzip -v " + q.archive + " | grep -q 'Stored.*photo.png'"), 0);
    EXPECT_LT(fs::file_size(q.archive), 3'500'000u / 2 + 250'000u);
}

TEST(ZipEng, ArchivesOfTheDebianToolsExtractByteForByte)
{
    TempDir t;
    MakeTree(t.path / "src");
    std::string src = t / "src";
    std::vector<std::pair<std::string, std::string>> makers = {
        {"zip.zip", "cd " + src + " && zip -qr9 ../zip.zip . && echo 'the comment' | zip -qz ../zip.zip"},
        {"desc.zip", "cd " + src + " && cat PATIENT.DBF | zip -q ../desc.zip - && zip -qr ../desc.zip sub"},
        {"stream.zip", "cd " + src + " && cat PATIENT.DBF | zip -q ../stream.zip -"},
        {"crypt.zip", "cd " + src + " && zip -qr -P s3cret ../crypt.zip ."},
        {"7z.zip", "cd " + src + " && 7z a -tzip -mx=9 ../7z.zip ."},
        {"py.zip",
            "cd " + src + " && " +
                Py("import zipfile,os\nz=zipfile.ZipFile(\"../py.zip\",\"w\",zipfile.ZIP_DEFLATED)\n"
                   "for d,_,fs in os.walk(\".\"):\n  for f in fs: z.write(os.path.join(d,f))\nz.close()")},
    };
    for (const auto& [name, cmd] : makers) {
        SCOPED_TRACE(name);
        ASSERT_EQ(Sh(cmd), 0) << cmd;
        Calls c;
        ExtractRequest x{
            .archive = t / name, .baseDir = t / ("out-" + name), .password = name == "crypt.zip" ? "s3cret" : ""};
        int n = RunExtract(x, c);
        EXPECT_GE(n, 1) << c.Messages();
        if (name == "desc.zip" || name == "stream.zip") {
            EXPECT_EQ(ReadFile(t.path / ("out-" + name) / "-"), ReadFile(t.path / "src/PATIENT.DBF"));
            if (name == "desc.zip") {
                EXPECT_EQ(
                    ReadFile(t.path / ("out-" + name) / "sub/CONSULT.MDX"), ReadFile(t.path / "src/sub/CONSULT.MDX"));
            }
        } else {
            EXPECT_EQ(n, 4) << c.Messages();
            ExpectSameTree(t.path / "src", t.path / ("out-" + name));
        }
    }
}

TEST(ZipEng, EncryptionAsksForThePasswordAndRetries)
{
    TempDir t;
    WriteFile(t.path / "src/A.DBF", TableLike(100'000, 3));
    WriteFile(t.path / "src/B.DBF", TableLike(2'000'000, 4));
    Calls add;
    AddRequest q{.archive = t / "c.zip", .fileSpecs = {"*.DBF"}, .root = t / "src", .encrypt = true};
    // no password in the block: the library asks once, with the add flag
    add.answer = [](CallbackRecord& r) {
        if (r.action == actPassword) {
            EXPECT_EQ(r.value1 & 1, 1);
            std::strcpy(r.text, "pw");
            r.value1 = 1;
        }
    };
    ASSERT_EQ(RunAdd(q, add), 2) << add.Messages();
    EXPECT_EQ(add.Count(actPassword), 1);
    EXPECT_EQ(Sh("unzip -tq -P pw " + q.archive), 0);
    EXPECT_NE(Sh("unzip -tq -P wrong " + q.archive), 0);
    ASSERT_EQ(Sh(Py("import zipfile,sys; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2], pwd=b\"pw\")") + " " +
                  q.archive + " " + (t / "py")),
        0);
    EXPECT_EQ(ReadFile(t.path / "py/B.DBF"), ReadFile(t.path / "src/B.DBF"));

    // a wrong password in the block, two answers: wrong then right
    Calls ex;
    int asked = 0;
    ex.answer = [&](CallbackRecord& r) {
        if (r.action != actPassword)
            return;
        std::strcpy(r.text, ++asked == 1 ? "nope" : "pw");
        r.value1 = 1;
    };
    ExtractRequest x{.archive = q.archive, .baseDir = t / "out", .password = "bad", .passwordReqCount = 3};
    EXPECT_EQ(RunExtract(x, ex), 2) << ex.Messages();
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(ReadFile(t.path / "out/B.DBF"), ReadFile(t.path / "src/B.DBF"));

    // no password and no more asking: both skipped as bad password, nothing written
    Calls none;
    x.baseDir = t / "none";
    x.password = "";
    x.passwordReqCount = 0;
    EXPECT_EQ(RunExtract(x, none), 0);
    int bad = 0;
    for (const auto& r : none.records)
        bad += r.action == actSkipped && r.value2 == skipBadPassword;
    EXPECT_EQ(bad, 2);
    EXPECT_FALSE(fs::exists(t.path / "none/A.DBF"));
}

// A wrong password that the encryption header's check byte lets through
// (one in 256) is still told as a wrong password, never as damaged data.
TEST(ZipEng, AWrongPasswordPastTheCheckByteIsStillAWrongPassword)
{
    TempDir t;
    WriteFile(t.path / "src/A.DBF", TableLike(300'000, 5));
    Calls add;
    add.answer = [](CallbackRecord& r) {
        if (r.action == actPassword) {
            std::strcpy(r.text, "pw");
            r.value1 = 1;
        }
    };
    AddRequest q{.archive = t / "c.zip", .fileSpecs = {"*.DBF"}, .root = t / "src", .encrypt = true};
    ASSERT_EQ(RunAdd(q, add), 1) << add.Messages();
    const std::string zip = ReadFile(q.archive);
    const auto* b = reinterpret_cast<const unsigned char*>(zip.data());
    const unsigned char check = (Get16(b + 6) & 8) ? uint8_t(Get32(b + 10) >> 8) : uint8_t(Get32(b + 14) >> 24);
    const size_t data = 30 + Get16(b + 26) + Get16(b + 28);
    std::string wrong;
    for (int i = 0; wrong.empty() && i < 100000; ++i) {
        const std::string candidate = "faux" + std::to_string(i);
        ZipCrypto c(candidate);
        unsigned char h[12];
        std::memcpy(h, b + data, 12);
        c.Decrypt(h, 12);
        if (h[11] == check)
            wrong = candidate;
    }
    ASSERT_FALSE(wrong.empty());
    Calls ex;
    ExtractRequest x{.archive = q.archive, .baseDir = t / "out", .password = wrong, .passwordReqCount = 0};
    EXPECT_EQ(RunExtract(x, ex), 0);
    EXPECT_EQ(ex.Messages(), "mot de passe erroné ou absent : A.DBF\n");
    EXPECT_EQ(ex.Count(actProgress), 0);
    EXPECT_FALSE(fs::exists(t.path / "out/A.DBF"));
}

// Archives built byte by byte by Python to carry what no tool writes.
void Hostile(const std::string& path, const std::string& body)
{
    ASSERT_EQ(Sh(Py("import zipfile,struct,sys\np=sys.argv[1]\n" + body) + " " + path), 0);
}

TEST(ZipEng, HostileArchivesAreRefusedWithoutHarm)
{
    TempDir t;
    std::string base = t / "base";
    // names leaving the base directory, and a link pointing out of it
    Hostile(t / "names.zip",
        "z=zipfile.ZipFile(p,\"w\")\nz.writestr(\"../evil.txt\",\"x\")\nz.writestr(\"/tmp/abs-evil.txt\",\"x\")\n"
        "z.writestr(\"a/../../evil2.txt\",\"x\")\nz.writestr(\"ok.txt\",\"fine\")\n"
        "i=zipfile.ZipInfo(\"link\")\ni.create_system=3\ni.external_attr=(0o120777<<16)\nz.writestr(i,\"/etc\")\n"
        "j=zipfile.ZipInfo(\"link2\")\nj.create_system=3\nj.external_attr=(0o120777<<16)\nz.writestr(j,\"../..\")\n"
        "k=zipfile.ZipInfo(\"d/"
        "inside\")\nk.create_system=3\nk.external_attr=(0o120777<<16)\nk.compress_type=zipfile.ZIP_DEFLATED\n"
        "z.writestr(k,\"../ok.txt\")\nz.close()");
    Calls c;
    ExtractRequest x{.archive = t / "names.zip", .baseDir = base};
    EXPECT_EQ(RunExtract(x, c), 2);
    EXPECT_EQ(ReadFile(base + "/ok.txt"), "fine");
    EXPECT_EQ(fs::read_symlink(base + "/d/inside"), "../ok.txt");  // a link inside the base is kept
    EXPECT_FALSE(fs::exists(t.path / "evil.txt"));
    EXPECT_FALSE(fs::exists(t.path / "evil2.txt"));
    EXPECT_FALSE(fs::exists(base + "/link"));
    EXPECT_FALSE(fs::exists(base + "/link2"));
    EXPECT_EQ(c.Count(actSkipped), 5);

    // a bomb: the entry declares 1000 bytes and inflates to 50 MB; two entries sharing their data
    Hostile(t / "bomb.zip",
        "z=zipfile.ZipFile(p,\"w\",zipfile.ZIP_DEFLATED)\nz.writestr(\"big\",b\"\\0\"*50000000)\nz.close()\n"
        "d=bytearray(open(p,\"rb\").read())\nc=d.rfind(b\"PK\\x01\\x02\")\nl=0\n"
        "struct.pack_into(\"<I\",d,c+24,1000)\nstruct.pack_into(\"<I\",d,l+22,1000)\nopen(p,\"wb\").write(d)");
    Calls b;
    x.archive = t / "bomb.zip";
    EXPECT_EQ(RunExtract(x, b), 0);
    EXPECT_FALSE(fs::exists(base + "/big"));
    Hostile(t / "overlap.zip",
        "z=zipfile.ZipFile(p,\"w\",zipfile.ZIP_DEFLATED)\nz.writestr(\"a\",b\"\\0\"*100000)\nz.writestr(\"b\",b\"y\")"
        "\nz.close()\n"
        "d=bytearray(open(p,\"rb\").read())\nc=d.rfind(b\"PK\\x01\\x02\")\nstruct.pack_into(\"<I\",d,c+42,0)\nopen(p,"
        "\"wb\").write(d)");
    Calls o;
    x.archive = t / "overlap.zip";
    EXPECT_EQ(RunExtract(x, o), 0);
    // "b" points at the header of "a": "b" is at fault, "a" is sound
    EXPECT_EQ(o.Messages(), "noms local et central différents : b (en-tête local : a)\n");
    // "b" points into the header of "a"; "a" claims more data than it has,
    // running into the header of "b"
    for (const auto& [edit, fault] : std::vector<std::pair<std::string, std::string>>{
             {"struct.pack_into(\"<I\",d,c+42,7)", "en-tête local erroné : b\n"},
             {"struct.pack_into(\"<I\",d,d.find(b\"PK\\x01\\x02\")+20,300)",
                 "données chevauchant une autre entrée ou dépassant la fin de l'archive : a\n"}}) {
        Hostile(t / "overlap.zip",
            "z=zipfile.ZipFile(p,\"w\",zipfile.ZIP_DEFLATED)\nz.writestr(\"a\",b\"\\0\"*100000)\nz.writestr(\"b\","
            "b\"y\")\nz.close()\nd=bytearray(open(p,\"rb\").read())\nc=d.rfind(b\"PK\\x01\\x02\")\n" +
                edit + "\nopen(p,\"wb\").write(d)");
        for (bool test : {false, true}) {
            Calls k;
            ExtractRequest q{.archive = t / "overlap.zip", .baseDir = t / "overlap", .test = test};
            EXPECT_EQ(RunExtract(q, k), 0);
            EXPECT_EQ(k.Messages(), fault);
        }
    }

    // truncated archives of every length and random bytes: a message, never a crash
    std::string good = t / "good.zip";
    Hostile(good,
        "z=zipfile.ZipFile(p,\"w\",zipfile.ZIP_DEFLATED)\nz.writestr(\"a\",\"hello "
        "\"*1000)\nz.comment=b\"c\"\nz.close()");
    std::string bytes = ReadFile(good);
    for (size_t n = 0; n < bytes.size(); n += 7) {
        WriteFile(t.path / "cut.zip", bytes.substr(0, n));
        Calls k;
        x.archive = t / "cut.zip";
        x.baseDir = t / "cut";
        EXPECT_EQ(RunExtract(x, k), 0) << n;
        EXPECT_GE(k.Count(actMessage), 1) << n;
    }
    for (size_t i = 40; i + 1 < bytes.size(); i += 3) {
        std::string bad = bytes;
        bad[i] = char(bad[i] ^ 0x5A);
        WriteFile(t.path / "flip.zip", bad);
        Calls k;
        x.archive = t / "flip.zip";
        x.baseDir = t / ("flip");
        x.test = true;
        RunExtract(x, k);
    }
}

TEST(ZipEng, UpdateFreshenAndMove)
{
    TempDir t;
    WriteFile(t.path / "src/A", "one");
    WriteFile(t.path / "src/B", "two");
    AddRequest q{.archive = t / "u.zip", .fileSpecs = {"*"}, .root = t / "src"};
    Calls c1;
    ASSERT_EQ(RunAdd(q, c1), 2);
    auto past = fs::last_write_time(t.path / "src/A") - std::chrono::hours(1);
    fs::last_write_time(t.path / "src/B", past);  // B older than its entry: not taken again
    WriteFile(t.path / "src/A", "one, newer");
    fs::last_write_time(t.path / "src/A", fs::last_write_time(t.path / "src/A") + std::chrono::hours(1));
    WriteFile(t.path / "src/C", "three");
    Calls f;
    q.freshen = true;
    EXPECT_EQ(RunAdd(q, f), 1) << f.Messages();  // A only; C is new
    ASSERT_EQ(Sh("unzip -l " + q.archive + " | grep -q ' C$'"), 256);
    Calls u;
    q.freshen = false;
    q.update = true;
    EXPECT_EQ(RunAdd(q, u), 1) << u.Messages();  // C
    Calls ex;
    ExtractRequest x{.archive = q.archive, .baseDir = t / "out"};
    EXPECT_EQ(RunExtract(x, ex), 3);
    EXPECT_EQ(ReadFile(t.path / "out/A"), "one, newer");
    EXPECT_EQ(ReadFile(t.path / "out/C"), "three");

    // extraction: no overwrite unless the question is answered yes
    WriteFile(t.path / "out/A", "local");
    Calls ask;
    ask.answer = [](CallbackRecord& r) {
        if (r.action == actOverwrite)
            r.value2 = std::string(r.text) == "B" ? 1 : 0;
    };
    x.overwrite = false;
    EXPECT_EQ(RunExtract(x, ask), 1);
    EXPECT_EQ(ask.Count(actOverwrite), 3);
    EXPECT_EQ(ReadFile(t.path / "out/A"), "local");

    // move: the sources go once the archive is complete, to the trash when undo is allowed
    Calls m;
    AddRequest mv{.archive = t / "m.zip", .fileSpecs = {"*"}, .root = t / "src", .move = true};
    setenv("XDG_DATA_HOME", (t / "data").c_str(), 1);
    mv.trash = true;
    EXPECT_EQ(RunAdd(mv, m), 3) << m.Messages();
    EXPECT_FALSE(fs::exists(t.path / "src/A"));
    EXPECT_EQ(ReadFile(t.path / "data/Trash/files/A"), "one, newer");
    EXPECT_NE(ReadFile(t.path / "data/Trash/info/A.trashinfo").find("Path=" + (t / "src/A")), std::string::npos);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(Sh("unzip -tq " + mv.archive), 0);
    WriteFile(t.path / "src/D", "d");
    Calls m2;
    mv.trash = false;
    mv.archive = t / "m2.zip";
    EXPECT_EQ(RunAdd(mv, m2), 1);
    EXPECT_FALSE(fs::exists(t.path / "src/D"));
    EXPECT_FALSE(fs::exists(t.path / "data/Trash/files/D"));
}

// The names an add job takes: exclusions, hidden files, the date limit,
// names with or without their directories.
TEST(ZipEng, SelectionOfTheFilesToAdd)
{
    TempDir t;
    WriteFile(t.path / "src/A.DBF", "a");
    WriteFile(t.path / "src/B.TMP", "b");
    WriteFile(t.path / "src/.hidden", "h");
    WriteFile(t.path / "src/sub/C.DBF", "c");
    WriteFile(t.path / "src/OLD.DBF", "o");
    fs::last_write_time(t.path / "src/OLD.DBF", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    auto names = [&](const AddRequest& q) {
        Calls c;
        EXPECT_GT(RunAdd(q, c), 0) << c.Messages();
        std::vector<std::string> n;
        for (const auto& r : c.records)
            if (r.action == actNewFile)
                n.push_back(r.text);
        fs::remove(q.archive);
        return n;
    };
    AddRequest q{.archive = t / "s.zip", .fileSpecs = {"*"}, .root = t / "src", .excl = {"*.TMP"}};
    EXPECT_EQ(names(q), (std::vector<std::string>{"A.DBF", "OLD.DBF", "sub/C.DBF"}));
    q.excl.clear();
    q.hidden = true;
    q.recurse = false;
    EXPECT_EQ(names(q), (std::vector<std::string>{".hidden", "A.DBF", "B.TMP", "OLD.DBF"}));
    time_t now = time(nullptr) - 24 * 3600 * 30;
    char date[9];
    strftime(date, sizeof date, "%m %d %y", localtime(&now));
    q.fromDate = date;
    q.fileSpecs = {"*.DBF"};
    q.recurse = true;
    q.junk = true;
    EXPECT_EQ(names(q), (std::vector<std::string>{"A.DBF", "C.DBF"}));
}

TEST(ZipEng, ClassicLimitsGiveAnErrorAndKeepTheOldArchive)
{
    TempDir t;
    WriteFile(t.path / "src/small", "x");
    AddRequest q{.archive = t / "l.zip", .fileSpecs = {"*"}, .root = t / "src"};
    Calls c0;
    ASSERT_EQ(RunAdd(q, c0), 1);
    std::string before = ReadFile(q.archive);
    // a sparse file past 4 GB
    {
        std::ofstream(t.path / "src/huge");
        ASSERT_EQ(truncate((t / "src/huge").c_str(), 0x100000000LL + 1), 0);
    }
    Calls c1;
    EXPECT_EQ(RunAdd(q, c1), 0);
    EXPECT_NE(c1.Messages().find("4 Go"), std::string::npos) << c1.Messages();
    EXPECT_EQ(ReadFile(q.archive), before);
    fs::remove(t.path / "src/huge");

    // an archive of 65 535 entries takes no more
    std::string full = t / "full.zip";
    Hostile(full, "z=zipfile.ZipFile(p,\"w\")\nfor i in range(65535): z.writestr(\"f%d\"%i,\"\")\nz.close()");
    Calls c2;
    q.archive = full;
    before = ReadFile(full);
    EXPECT_EQ(RunAdd(q, c2), 0);
    EXPECT_NE(c2.Messages().find("65 535"), std::string::npos) << c2.Messages();
    EXPECT_EQ(ReadFile(full), before);
}

TEST(ZipEng, CancelFromTheCallbackLeavesNothingBehind)
{
    TempDir t;
    WriteFile(t.path / "src/T.DBF", TableLike(5'000'000, 9));
    AddRequest q{.archive = t / "x.zip", .fileSpecs = {"*"}, .root = t / "src"};
    Calls c;
    c.cancelAtProgress = true;
    EXPECT_EQ(RunAdd(q, c), 0);
    EXPECT_EQ(c.Count(actProgress), 1);
    EXPECT_FALSE(fs::exists(q.archive));
    int left = 0;
    for (const auto& e : fs::directory_iterator(t.path))
        left += e.is_regular_file();
    EXPECT_EQ(left, 0);

    c.cancelAtProgress = false;
    ASSERT_EQ(RunAdd(q, c), 1);
    Calls e;
    e.cancelAtProgress = true;
    ExtractRequest x{.archive = q.archive, .baseDir = t / "out"};
    EXPECT_EQ(RunExtract(x, e), 0);
    EXPECT_FALSE(fs::exists(t.path / "out/T.DBF"));
    int tmp = 0;
    for (const auto& f : fs::directory_iterator(t.path / "out"))
        tmp += 1, (void)f;
    EXPECT_EQ(tmp, 0);
}

}  // namespace

namespace {

// Each kind of odd entry refuses the whole archive, tested or extracted,
// with its reason naming the entry, before anything is written; what zip
// writes for its standard input (a pipe's mode) is an ordinary file.
TEST(ZipEng, OddEntriesRefuseTheWholeArchive)
{
    const fs::path corpus = fs::path(KORVALE_SOURCE_DIR) / "tests/zipeng/corpus";
    for (const OddArchive& odd : OddArchives()) {
        SCOPED_TRACE(odd.file);
        TempDir t;
        for (bool test : {true, false}) {
            Calls c;
            ExtractRequest x{.archive = (corpus / odd.file).string(), .baseDir = t / "base", .test = test};
            EXPECT_EQ(RunExtract(x, c), 0);
            EXPECT_EQ(c.Messages(), odd.reason + "\n");
            EXPECT_EQ(c.Count(actNewFile), 0);
        }
        EXPECT_TRUE(!fs::exists(t / "base") || fs::is_empty(t / "base"));
    }
    TempDir t;
    Calls c;
    ExtractRequest x{.archive = (corpus / "sound-stdin-pipe.zip").string(), .baseDir = t / "base"};
    ASSERT_EQ(RunExtract(x, c), 1) << c.Messages();
    EXPECT_TRUE(fs::is_regular_file(t / "base/-"));
    EXPECT_EQ(ReadFile(t / "base/-"), "from standard input\n");
}

// The fuzz corpus (tests/zipeng/corpus, also what fuzz_unzip found): each
// archive tested and extracted; nothing may land outside the base directory.
TEST(ZipEng, CorpusReplay)
{
    const fs::path corpus = fs::path(KORVALE_SOURCE_DIR) / "tests/zipeng/corpus";
    int seen = 0;
    for (const auto& f : fs::directory_iterator(corpus)) {
        SCOPED_TRACE(f.path().filename().string());
        TempDir t;
        for (bool test : {true, false}) {
            Calls c;
            c.answer = [](CallbackRecord& r) {
                if (r.action == actOverwrite)
                    r.value2 = 1;
                if (r.action == actPassword) {
                    std::strcpy(r.text, "pw");
                    r.value1 = 1;
                }
            };
            ExtractRequest x{.archive = f.path().string(), .baseDir = t / "base", .test = test, .passwordReqCount = 1};
            int n = RunExtract(x, c);
            EXPECT_GE(n, 0);
            if (n == 0 && f.path().filename() != "end_only.zip") {
                EXPECT_GE(c.Count(actMessage) + c.Count(actSkipped), 1);
            }
        }
        for (const auto& e : fs::directory_iterator(t.path))
            EXPECT_EQ(e.path().filename(), "base");
        ++seen;
    }
    EXPECT_GE(seen, 10);
}

}  // namespace
