// Whole files in and out for the commands.
#include "tools/file_io.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#include "stream_nodes.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<unsigned char>(i * 7 + i / 251);
    return bytes;
}

std::string_view View(const Bytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

TEST(FileIo, WholeFilesRoundTrip) {
    testsupport::ScopedStoreRoot root;
    for (std::size_t size :
         {std::size_t{0}, std::size_t{1}, std::size_t{65536}, std::size_t{300001}}) {
        const fs::path path = root.path() / ("file" + std::to_string(size));
        const Bytes bytes = Pattern(size);
        ASSERT_TRUE(qlpr::WriteWholeFile(path, View(bytes)));
        EXPECT_EQ(qlpr::ReadWholeFile(path), bytes) << size;
        Bytes head(size / 2);
        EXPECT_TRUE(qlpr::ReadFileInto(path, head));
        EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
        Bytes tooMany(size + 1);
        EXPECT_FALSE(qlpr::ReadFileInto(path, tooMany)) << "the file is one byte short";
    }
    // Writing again replaces the contents, a shorter one included.
    const fs::path path = root.path() / "again";
    ASSERT_TRUE(qlpr::WriteWholeFile(path, "a longer first text"));
    ASSERT_TRUE(qlpr::WriteWholeFile(path, "short"));
    EXPECT_EQ(qlpr::ReadWholeFile(path), Bytes({'s', 'h', 'o', 'r', 't'}));
}

TEST(FileIo, LimitsFoldersAndMissingFiles) {
    testsupport::ScopedStoreRoot root;
    const fs::path path = root.path() / "ten";
    ASSERT_TRUE(qlpr::WriteWholeFile(path, "0123456789"));
    EXPECT_TRUE(qlpr::ReadWholeFile(path, 10));
    EXPECT_FALSE(qlpr::ReadWholeFile(path, 9));
    EXPECT_FALSE(qlpr::ReadWholeFile(root.path()));
    EXPECT_FALSE(qlpr::ReadWholeFile(root.path() / "missing"));
    Bytes one(1);
    EXPECT_FALSE(qlpr::ReadFileInto(root.path() / "missing", one));
    EXPECT_FALSE(qlpr::WriteWholeFile(root.path() / "no" / "folder", "x"));

    std::string error;
    EXPECT_FALSE(qlpr::ReadStreamFile(root.path().string(), &error));
    EXPECT_EQ(error, root.path().string() + " is a folder, not a stream file");
    EXPECT_FALSE(qlpr::ReadStreamFile((root.path() / "missing").string(), &error));
    EXPECT_EQ(error, "cannot read " + (root.path() / "missing").string());
}

TEST(FileIo, APipeIsReadToItsEnd) {
    // A pipe has no size to go by: it is read in growing blocks.
    testsupport::ScopedStoreRoot root;
    const fs::path fifo = root.path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const Bytes bytes = Pattern(200000);
    std::thread writer([&] { qlpr::WriteWholeFile(fifo, View(bytes)); });
    const std::optional<Bytes> read = qlpr::ReadWholeFile(fifo);
    writer.join();
    EXPECT_EQ(read, bytes);
}

// Devices, FIFOs and sockets are written in place; regular files, folders
// and free names are replaced whole; disks are no output. Links are followed.
TEST(FileIo, OutputsAreToldByWhatTheyName) {
    testsupport::ScopedStoreRoot root;
    const fs::path fifo = root.path() / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto socket = testsupport::StreamReceiver::Socket(root.path() / "socket");
    ASSERT_TRUE(qlpr::WriteWholeFile(root.path() / "file", "x"));
    fs::create_symlink("/dev/null", root.path() / "link");
    const std::pair<fs::path, qlpr::OutputNode> kNodes[] = {
        {"/dev/null", qlpr::OutputNode::Stream},
        {root.path() / "link", qlpr::OutputNode::Stream},
        {fifo, qlpr::OutputNode::Stream},
        {root.path() / "socket", qlpr::OutputNode::Stream},
        {root.path() / "file", qlpr::OutputNode::File},
        {root.path(), qlpr::OutputNode::File},
        {root.path() / "missing", qlpr::OutputNode::File},
    };
    for (const auto& [path, node] : kNodes) EXPECT_EQ(qlpr::OutputNodeOf(path), node) << path;
    for (const auto& entry : fs::directory_iterator("/dev")) {
        if (entry.is_block_file()) {
            EXPECT_EQ(qlpr::OutputNodeOf(entry.path()), qlpr::OutputNode::BlockDevice);
            break;
        }
    }
}

}  // namespace
