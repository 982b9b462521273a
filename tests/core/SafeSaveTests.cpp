// Saving a file: what is on the disk afterwards, bytes and identity, whether the save
// worked, was refused or failed part way.
#include "core/SafeSave.h"

#include "tests/SaveFaults.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

using namespace zarvel;
using zarvel::test::diskFullAfter;

namespace {

constexpr uid_t nobody = 65534;
constexpr const char* oldBytes = "id,name\n1,old\n2,content\n";
constexpr const char* newBytes = "id,name\n1,new\n";

class SafeSaveTest : public ::testing::Test {
public:
    void SetUp() override {
        char pattern[] = "/tmp/zarvel-safesave-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        previousMask = ::umask(022);
    }
    void TearDown() override {
        ::umask(previousMask);
        std::system(("chattr -R -i '" + dir + "' 2>/dev/null; rm -rf '" + dir + "'").c_str());
    }

    std::string at(const std::string& name) const { return dir + "/" + name; }
    void put(const std::string& name, const std::string& bytes, mode_t mode = 0644) const {
        std::ofstream(at(name), std::ios::binary) << bytes;
        ASSERT_EQ(::chmod(at(name).c_str(), mode), 0);
    }
    std::string bytesOf(const std::string& name) const {
        std::ifstream in(at(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }
    struct stat statOf(const std::string& name, bool follow = true) const {
        struct stat st {};
        EXPECT_EQ(follow ? ::stat(at(name).c_str(), &st) : ::lstat(at(name).c_str(), &st), 0) << name;
        return st;
    }
    // Every name in a folder, hidden ones included: a leftover temporary file shows here.
    // Empties the folder for the next case; false when the case needs root and we are not.
    bool freshFolder(bool needsRoot = false) const {
        if (needsRoot && !isRoot()) return false;
        std::system(("rm -rf '" + dir + "'/* '" + dir + "'/.[!.]*").c_str());
        return true;
    }
    std::set<std::string> entries(const std::string& sub = "") const {
        std::set<std::string> names;
        if (DIR* d = ::opendir(sub.empty() ? dir.c_str() : at(sub).c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.insert(e->d_name);
            ::closedir(d);
        }
        return names;
    }
    static bool isRoot() { return ::geteuid() == 0; }

    std::string dir;
    mode_t previousMask = 0;
};

} // namespace

TEST_F(SafeSaveTest, ASavedFileKeepsItsIdentity) {
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<void(SafeSaveTest&)> prepare; // makes "file.csv" and whatever points at it
        const char* saveAs;
        mode_t mode;
        uid_t owner; // -1: the saving user
        nlink_t links;
        bool sameInode;
        std::vector<std::string> seeingNewBytes;
    };
    const uid_t me = ::geteuid();
    const std::vector<Case> cases = {
        {"another user's file, saved by root",
         true,
         [](SafeSaveTest& t) {
             t.put("file.csv", oldBytes, 0640);
             ASSERT_EQ(::chown(t.at("file.csv").c_str(), nobody, nobody), 0);
         },
         "file.csv",
         0640,
         nobody,
         1,
         false,
         {"file.csv"}},
        {"setuid, setgid and sticky bits",
         false,
         [](SafeSaveTest& t) { t.put("file.csv", oldBytes, 07755); },
         "file.csv",
         0755,
         me,
         1,
         false,
         {"file.csv"}},
        {"a new file gets 0666 less the umask",
         false,
         [](SafeSaveTest&) {},
         "file.csv",
         0644,
         me,
         1,
         false,
         {"file.csv"}},
        {"hard links stay one file",
         false,
         [](SafeSaveTest& t) {
             t.put("file.csv", oldBytes, 04640);
             ASSERT_EQ(::link(t.at("file.csv").c_str(), t.at("second.csv").c_str()), 0);
         },
         "second.csv",
         0640,
         me,
         2,
         true,
         {"file.csv", "second.csv"}},
        {"a chain of symbolic links stays",
         false,
         [](SafeSaveTest& t) {
             t.put("file.csv", oldBytes, 0600);
             ASSERT_EQ(::mkdir(t.at("sub").c_str(), 0755), 0);
             ASSERT_EQ(::symlink("../file.csv", t.at("sub/near.csv").c_str()), 0);
             ASSERT_EQ(::symlink(t.at("sub/near.csv").c_str(), t.at("far.csv").c_str()), 0);
         },
         "far.csv",
         0600,
         me,
         1,
         false,
         {"file.csv", "far.csv", "sub/near.csv"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!freshFolder(c.needsRoot)) continue;
        c.prepare(*this);
        const std::set<std::string> before = entries();
        const ino_t inode = ::access(at("file.csv").c_str(), F_OK) == 0 ? statOf("file.csv").st_ino : 0;

        const auto error = SafeSave::save(at(c.saveAs), newBytes);
        ASSERT_FALSE(error) << error->reason();

        for (const std::string& name : c.seeingNewBytes) {
            EXPECT_EQ(bytesOf(name), newBytes) << name;
        }
        const struct stat st = statOf("file.csv");
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        EXPECT_EQ(st.st_uid, c.owner);
        if (c.owner == nobody) {
            EXPECT_EQ(st.st_gid, nobody);
        }
        EXPECT_EQ(st.st_nlink, c.links);
        if (c.sameInode) {
            EXPECT_EQ(st.st_ino, inode);
        }
        for (const char* link : {"far.csv", "sub/near.csv"})
            if (::access(at(link).c_str(), F_OK) == 0) {
                EXPECT_TRUE(S_ISLNK(statOf(link, false).st_mode)) << link;
            }
        std::set<std::string> expected = before;
        expected.insert("file.csv");
        EXPECT_EQ(entries(), expected) << "no temporary file left";
    }
}

TEST_F(SafeSaveTest, WhatMustNotBeReplacedIsRefusedAndLeftAlone) {
    using Kind = SafeSave::Error::Kind;
    struct Case {
        const char* what;
        bool needsRoot;
        std::function<void(SafeSaveTest&)> prepare;
        const char* saveAs;
        Kind kind;
        const char* untouched; // a file whose bytes and identity must not change
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"a read-only file, even for root", false, [](SafeSaveTest& t) { t.put("file.csv", oldBytes, 0444); },
         "file.csv", Kind::readOnlyFile, "file.csv", "the file is read-only"},
        {"a folder", false, [](SafeSaveTest& t) { ASSERT_EQ(::mkdir(t.at("file.csv").c_str(), 0755), 0); },
         "file.csv", Kind::isDirectory, nullptr, "it is a directory, not a regular file"},
        {"a pipe", false, [](SafeSaveTest& t) { ASSERT_EQ(::mkfifo(t.at("file.csv").c_str(), 0644), 0); },
         "file.csv", Kind::notRegularFile, nullptr, "it is not a regular file"},
        {"another user's link in a shared sticky folder", true,
         [](SafeSaveTest& t) {
             t.put("outside.csv", oldBytes, 0644);
             ASSERT_EQ(::mkdir(t.at("shared").c_str(), 0700), 0);
             ASSERT_EQ(::chmod(t.at("shared").c_str(), 01777), 0);
             ASSERT_EQ(::symlink(t.at("outside.csv").c_str(), t.at("shared/out.csv").c_str()), 0);
             ASSERT_EQ(::lchown(t.at("shared/out.csv").c_str(), nobody, nobody), 0);
         },
         "shared/out.csv", Kind::untrustedSymlink, "outside.csv", nullptr},
        {"a hard link in a shared sticky folder", false,
         [](SafeSaveTest& t) {
             t.put("outside.csv", oldBytes, 0644);
             ASSERT_EQ(::mkdir(t.at("shared").c_str(), 0700), 0);
             ASSERT_EQ(::chmod(t.at("shared").c_str(), 01777), 0);
             ASSERT_EQ(::link(t.at("outside.csv").c_str(), t.at("shared/out.csv").c_str()), 0);
         },
         "shared/out.csv", Kind::sharedHardLink, "outside.csv", nullptr},
        {"a missing folder", false, [](SafeSaveTest&) {}, "nowhere/file.csv", Kind::folderMissing, nullptr,
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!freshFolder(c.needsRoot)) continue;
        c.prepare(*this);
        const std::set<std::string> before = entries();
        const std::set<std::string> beforeShared = entries("shared");
        struct stat old {};
        if (c.untouched) old = statOf(c.untouched);

        const auto error = SafeSave::save(at(c.saveAs), newBytes);
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind, c.kind) << error->reason();
        if (c.reason) {
            EXPECT_EQ(error->reason(), c.reason);
        }
        if (c.untouched) {
            EXPECT_EQ(bytesOf(c.untouched), oldBytes);
            const struct stat now = statOf(c.untouched);
            EXPECT_EQ(now.st_ino, old.st_ino);
            EXPECT_EQ(now.st_mode, old.st_mode);
            EXPECT_EQ(now.st_mtim.tv_nsec, old.st_mtim.tv_nsec);
        }
        EXPECT_EQ(entries(), before);
        EXPECT_EQ(entries("shared"), beforeShared);
    }
}

TEST_F(SafeSaveTest, AFailurePartWayLeavesTheOldContent) {
    struct Case {
        const char* what;
        bool linked; // a second name: written in place
        bool throws; // the producer fails instead of the disk
    };
    for (const Case c :
         {Case{"replaced, disk full", false, false}, Case{"in place, disk full", true, false},
          Case{"replaced, producer throws", false, true}, Case{"in place, producer throws", true, true}}) {
        SCOPED_TRACE(c.what);
        freshFolder();
        put("file.csv", oldBytes, 0640);
        if (c.linked) {
            ASSERT_EQ(::link(at("file.csv").c_str(), at("second.csv").c_str()), 0);
        }
        const std::set<std::string> before = entries();
        const struct stat old = statOf("file.csv");

        SafeSave::Options options;
        options.writeHook = diskFullAfter(c.throws ? SIZE_MAX : 5);
        const SafeSave::Producer producer = [&](SafeSave::Sink& sink) {
            sink.write("id,name\n");
            if (c.throws) throw std::runtime_error("the producer gave up");
            sink.write("1,new\n");
        };
        if (c.throws) {
            EXPECT_THROW((void)SafeSave::save(at("file.csv"), producer, options), std::runtime_error);
        } else {
            const auto error = SafeSave::save(at("file.csv"), producer, options);
            ASSERT_TRUE(error);
            EXPECT_EQ(error->error, ENOSPC);
            EXPECT_EQ(error->restored, c.linked);
            EXPECT_EQ(error->reason(),
                      c.linked ? "the disk is full; the old content was put back" : "the disk is full");
        }

        EXPECT_EQ(bytesOf("file.csv"), oldBytes);
        if (c.linked) {
            EXPECT_EQ(bytesOf("second.csv"), oldBytes);
        }
        const struct stat now = statOf("file.csv");
        EXPECT_EQ(now.st_ino, old.st_ino);
        EXPECT_EQ(now.st_mode, old.st_mode);
        EXPECT_EQ(now.st_nlink, old.st_nlink);
        EXPECT_EQ(entries(), before) << "no temporary file left";
    }
}
