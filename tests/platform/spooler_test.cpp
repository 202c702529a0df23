// The spooler stand-in: printer folders, the driver and printer records,
// and printer data.
#include "platform/spooler.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "platform/wide.h"
#include "platform_test_util.h"
#include "stream_nodes.h"
#include "test_support.h"

namespace {

using platformtest::FolderEntries;

class SpoolerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setup_.driverPath = "/opt/qlpr/lib/QLPRGI.DLL";
        setup_.dataFile = "/opt/qlpr/share/receipt.dat";
        setup_.output = "/dev/usb/lp0";
        ASSERT_TRUE(platform::InstallPrinter(u"Receipt 80", setup_));
        ASSERT_TRUE(OpenPrinterW(u"Receipt 80", &printer_, nullptr));
    }
    void TearDown() override {
        if (printer_ != nullptr) ClosePrinter(printer_);
    }

    // True when the string lies inside [buffer, buffer + size).
    static bool Inside(const void* text, const std::vector<BYTE>& buffer) {
        const auto* p = static_cast<const BYTE*>(text);
        return p >= buffer.data() && p < buffer.data() + buffer.size();
    }

    testsupport::ScopedStoreRoot root_;
    platform::PrinterSetup setup_;
    HANDLE printer_ = nullptr;
};

TEST_F(SpoolerTest, InstallWritesTheFolderTree) {
    const auto folder = root_.path() / "printers" / "Receipt 80";
    EXPECT_EQ(platform::PrinterFolder(u"Receipt 80"), folder);
    EXPECT_EQ(FolderEntries(folder),
              (std::vector<std::string>{"datafile", "driverpath", "output", "printerdriverdata"}));
    EXPECT_EQ(platformtest::ReadBytes(folder / "output"),
              std::string("\x01\0\0\0/\0d\0e\0v\0/\0u\0s\0b\0/\0l\0p\0\x30\0\0\0", 30));
}

TEST_F(SpoolerTest, SetupRoundTrip) {
    auto read = platform::ReadPrinterSetup(u"Receipt 80");
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->driverPath, setup_.driverPath);
    EXPECT_EQ(read->dataFile, setup_.dataFile);
    EXPECT_EQ(read->output, setup_.output);
    EXPECT_FALSE(platform::ReadPrinterSetup(u"No Such Printer").has_value());

    setup_.output = "-";
    ASSERT_TRUE(platform::InstallPrinter(u"Receipt 80", setup_));  // an update
    EXPECT_EQ(platform::ReadPrinterSetup(u"Receipt 80")->output, "-");
    EXPECT_FALSE(platform::InstallPrinter(u"", setup_));
}

TEST_F(SpoolerTest, PrinterNamesKeepTheirCaseAndAreEscaped) {
    HANDLE other = nullptr;
    SetLastError(0);
    EXPECT_FALSE(OpenPrinterW(u"receipt 80", &other, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PRINTER_NAME);
    EXPECT_FALSE(OpenPrinterW(u"Missing", &other, nullptr));
    EXPECT_FALSE(OpenPrinterW(u"", &other, nullptr));
    EXPECT_EQ(other, nullptr);

    ASSERT_TRUE(platform::InstallPrinter(u"../Odd/Name%", setup_));
    EXPECT_EQ(platform::PrinterFolder(u"../Odd/Name%"),
              root_.path() / "printers" / "%2E.%2FOdd%2FName%25");
    EXPECT_TRUE(std::filesystem::is_directory(platform::PrinterFolder(u"../Odd/Name%")));
    ASSERT_TRUE(OpenPrinterW(u"../Odd/Name%", &other, nullptr));
    EXPECT_TRUE(ClosePrinter(other));
}

TEST_F(SpoolerTest, DriverRecordByTheTwoCallProtocol) {
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetPrinterDriverW(printer_, nullptr, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    ASSERT_GT(needed, sizeof(DRIVER_INFO_2W));

    std::vector<BYTE> buffer(needed, 0xEE);
    DWORD again = 0;
    EXPECT_FALSE(GetPrinterDriverW(printer_, nullptr, 2, buffer.data(), needed - 1, &again));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(again, needed);
    EXPECT_EQ(buffer[0], 0xEE);  // nothing written

    ASSERT_TRUE(GetPrinterDriverW(printer_, nullptr, 2, buffer.data(), needed, &again));
    DRIVER_INFO_2W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(info.cVersion, 3u);
    EXPECT_EQ(std::u16string(info.pName), u"QLPR Receipt Driver");
    EXPECT_EQ(std::u16string(info.pEnvironment), u"Linux");
    EXPECT_EQ(std::u16string(info.pDriverPath), u"/opt/qlpr/lib/QLPRGI.DLL");
    EXPECT_EQ(std::u16string(info.pDataFile), u"/opt/qlpr/share/receipt.dat");
    EXPECT_EQ(std::u16string(info.pConfigFile), u"/opt/qlpr/lib/QLPRUI.DLL");
    for (const void* text :
         {static_cast<const void*>(info.pName), static_cast<const void*>(info.pEnvironment),
          static_cast<const void*>(info.pDriverPath), static_cast<const void*>(info.pDataFile),
          static_cast<const void*>(info.pConfigFile)})
        EXPECT_TRUE(Inside(text, buffer));
    // The strings exactly fill what was asked for.
    const std::size_t strings = (19 + 5 + 24 + 27 + 24 + 5) * sizeof(WCHAR);
    EXPECT_EQ(needed, sizeof(DRIVER_INFO_2W) + strings);
}

TEST_F(SpoolerTest, OtherLevelsAndBadHandlesAreRefused) {
    DWORD needed = 0;
    BYTE buffer[512];
    SetLastError(0);
    EXPECT_FALSE(GetPrinterDriverW(printer_, nullptr, 3, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_FALSE(GetPrinterW(printer_, 1, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    int notAPrinter = 0;
    EXPECT_FALSE(GetPrinterW(&notAPrinter, 2, buffer, sizeof buffer, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(printer_));  // printers close through ClosePrinter
    EXPECT_TRUE(ClosePrinter(printer_));
    EXPECT_FALSE(ClosePrinter(printer_));
    printer_ = nullptr;
}

TEST_F(SpoolerTest, PrinterRecordByTheTwoCallProtocol) {
    DWORD needed = 0;
    EXPECT_FALSE(GetPrinterW(printer_, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetPrinterW(printer_, 2, buffer.data(), needed, &needed));
    PRINTER_INFO_2W info;
    std::memcpy(&info, buffer.data(), sizeof info);
    EXPECT_EQ(info.pServerName, nullptr);
    EXPECT_EQ(std::u16string(info.pPrinterName), u"Receipt 80");
    EXPECT_EQ(std::u16string(info.pPortName), u"/dev/usb/lp0");
    EXPECT_EQ(std::u16string(info.pDriverName), u"QLPR Receipt Driver");
    EXPECT_EQ(info.pDevMode, nullptr);
    EXPECT_EQ(std::u16string(info.pComment), u"");
    EXPECT_TRUE(Inside(info.pPrinterName, buffer));
    EXPECT_TRUE(Inside(info.pPortName, buffer));
}

TEST_F(SpoolerTest, PrinterDataRoundTrip) {
    const BYTE settings[5] = {1, 2, 3, 4, 5};
    ASSERT_EQ(SetPrinterDataW(printer_, u"Settings", REG_BINARY, settings, sizeof settings),
              ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::exists(platform::PrinterFolder(u"Receipt 80") /
                                        "printerdriverdata" / "settings"));

    DWORD type = 0, needed = 0;
    EXPECT_EQ(GetPrinterDataW(printer_, u"SETTINGS", &type, nullptr, 0, &needed), ERROR_MORE_DATA);
    EXPECT_EQ(needed, 5u);
    BYTE small[4] = {9, 9, 9, 9};
    EXPECT_EQ(GetPrinterDataW(printer_, u"Settings", &type, small, sizeof small, &needed),
              ERROR_MORE_DATA);
    EXPECT_EQ(small[0], 9);
    BYTE data[8] = {};
    ASSERT_EQ(GetPrinterDataW(printer_, u"Settings", &type, data, sizeof data, &needed),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(needed, 5u);
    EXPECT_EQ(std::memcmp(data, settings, 5), 0);

    // A second handle sees the same data.
    HANDLE second = nullptr;
    ASSERT_TRUE(OpenPrinterW(u"Receipt 80", &second, nullptr));
    EXPECT_EQ(GetPrinterDataW(second, u"settings", &type, data, sizeof data, &needed),
              ERROR_SUCCESS);
    ClosePrinter(second);

    EXPECT_EQ(DeletePrinterDataW(printer_, u"Settings"), ERROR_SUCCESS);
    EXPECT_EQ(GetPrinterDataW(printer_, u"Settings", &type, data, sizeof data, &needed),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(DeletePrinterDataW(printer_, u"Settings"), ERROR_FILE_NOT_FOUND);
}

TEST_F(SpoolerTest, PrinterWithoutDriverHasNoDriverRecord) {
    std::filesystem::remove(platform::PrinterFolder(u"Receipt 80") / "driverpath");
    DWORD needed = 0;
    SetLastError(0);
    EXPECT_FALSE(GetPrinterDriverW(printer_, nullptr, 2, nullptr, 0, &needed));
    EXPECT_EQ(GetLastError(), ERROR_UNKNOWN_PRINTER_DRIVER);
    EXPECT_FALSE(platform::ReadPrinterSetup(u"Receipt 80").has_value());
}

// ---- jobs ----------------------------------------------------------------

class SpoolerJobTest : public SpoolerTest {
  protected:
    // Points the printer's output at `output` and opens a fresh handle.
    void UseOutput(const std::string& output) {
        setup_.output = output;
        ASSERT_TRUE(platform::InstallPrinter(u"Receipt 80", setup_));
        ClosePrinter(printer_);
        ASSERT_TRUE(OpenPrinterW(u"Receipt 80", &printer_, nullptr));
    }
    DWORD StartJob() {
        char16_t name[] = u"Receipt";
        DOC_INFO_1W info{name, nullptr, nullptr};
        return StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&info));
    }
    bool Write(const std::string& bytes, DWORD* written = nullptr) {
        DWORD ignored = 0;
        return WritePrinter(printer_, bytes.data(), static_cast<DWORD>(bytes.size()),
                            written ? written : &ignored) != FALSE;
    }
    std::filesystem::path OutputFile() const { return root_.path() / "job.prn"; }
};

// Drivers name spool files after the job id, so two processes printing at
// once never get the same one.
TEST_F(SpoolerJobTest, AnotherProcessGetsAnotherJobId) {
    UseOutput(OutputFile().string());
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const DWORD id = StartJob();
        EndDocPrinter(printer_);
        _exit(write(channel[1], &id, sizeof id) == sizeof id ? 0 : 1);
    }
    close(channel[1]);
    const DWORD mine = StartJob();
    ASSERT_TRUE(EndDocPrinter(printer_));
    DWORD theirs = 0;
    ASSERT_EQ(read(channel[0], &theirs, sizeof theirs), static_cast<ssize_t>(sizeof theirs));
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_GT(mine, 0u);
    EXPECT_GT(theirs, 0u);
    EXPECT_NE(mine, theirs);
}

TEST_F(SpoolerJobTest, BytesLandInTheOutputFileInOrder) {
    UseOutput(OutputFile().string());
    const DWORD first = StartJob();
    ASSERT_GT(first, 0u);
    DWORD written = 99;
    ASSERT_TRUE(Write(std::string("\x1B@", 2), &written));
    EXPECT_EQ(written, 2u);
    ASSERT_TRUE(Write(std::string("text\0\n", 6), &written));
    EXPECT_TRUE(WritePrinter(printer_, nullptr, 0, &written));  // nothing to write
    EXPECT_EQ(written, 0u);
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(platformtest::ReadBytes(OutputFile()), std::string("\x1B@text\0\n", 8));

    // The next job starts the file afresh and has its own id.
    const DWORD second = StartJob();
    ASSERT_GT(second, 0u);
    EXPECT_NE(second, first);
    EXPECT_EQ(std::filesystem::file_size(OutputFile()), 0u);  // truncated at the start
    ASSERT_TRUE(Write("B"));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(platformtest::ReadBytes(OutputFile()), "B");
}

// A document that names an output file is printed to it; the printer's
// own output is neither written nor changed.
TEST_F(SpoolerJobTest, ADocumentsOutputFileTakesTheJob) {
    UseOutput(OutputFile().string());
    const std::filesystem::path file = root_.path() / "to-file.prn";
    std::u16string path = platform::FromUtf8(file.string());
    char16_t name[] = u"Receipt";
    DOC_INFO_1W info{name, path.data(), nullptr};
    ASSERT_NE(StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&info)), 0u);
    ASSERT_TRUE(Write("to file"));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(platformtest::ReadBytes(file), "to file");
    EXPECT_FALSE(std::filesystem::exists(OutputFile()));
    EXPECT_EQ(platform::ReadPrinterSetup(u"Receipt 80")->output, OutputFile().string());
    // An empty name is no name.
    char16_t empty[] = u"";
    info.pOutputFile = empty;
    ASSERT_NE(StartDocPrinterW(printer_, 1, reinterpret_cast<BYTE*>(&info)), 0u);
    ASSERT_TRUE(Write("port"));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(platformtest::ReadBytes(OutputFile()), "port");
}

TEST_F(SpoolerJobTest, WritingNeedsAStartedJob) {
    UseOutput(OutputFile().string());
    SetLastError(0);
    DWORD written = 7;
    EXPECT_FALSE(WritePrinter(printer_, "x", 1, &written));
    EXPECT_EQ(GetLastError(), ERROR_SPL_NO_STARTDOC);
    EXPECT_EQ(written, 0u);
    EXPECT_FALSE(EndDocPrinter(printer_));
    EXPECT_EQ(GetLastError(), ERROR_SPL_NO_STARTDOC);
    EXPECT_FALSE(std::filesystem::exists(OutputFile()));  // nothing opened

    ASSERT_GT(StartJob(), 0u);
    EXPECT_EQ(StartJob(), 0u);  // one job at a time per handle
    EXPECT_FALSE(WritePrinter(printer_, nullptr, 3, &written));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_FALSE(Write("late"));
    EXPECT_EQ(GetLastError(), ERROR_SPL_NO_STARTDOC);
    EXPECT_EQ(platformtest::ReadBytes(OutputFile()), "");
}

TEST_F(SpoolerJobTest, BadLevelsHandlesAndOutputsAreRefused) {
    UseOutput(OutputFile().string());
    char16_t name[] = u"Receipt";
    DOC_INFO_1W info{name, nullptr, nullptr};
    SetLastError(0);
    EXPECT_EQ(StartDocPrinterW(printer_, 2, reinterpret_cast<BYTE*>(&info)), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_LEVEL);
    EXPECT_EQ(StartDocPrinterW(printer_, 1, nullptr), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    int notAPrinter = 0;
    EXPECT_EQ(StartDocPrinterW(&notAPrinter, 1, reinterpret_cast<BYTE*>(&info)), 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(WritePrinter(&notAPrinter, "x", 1, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    UseOutput((root_.path() / "no-such-folder" / "job.prn").string());
    EXPECT_EQ(StartJob(), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
    UseOutput(root_.path().string());  // a folder
    EXPECT_EQ(StartJob(), 0u);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    UseOutput("");
    EXPECT_EQ(StartJob(), 0u);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

// A named pipe stands in for a device node: opened without truncation,
// written as it is, closed by ClosePrinter, and a reader going away fails
// the write instead of ending the process.
TEST_F(SpoolerJobTest, ADeviceOutputAndAReaderThatGoesAway) {
    const auto fifo = root_.path() / "lp0";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    UseOutput(fifo.string());
    ASSERT_GT(StartJob(), 0u);
    ASSERT_TRUE(Write("ESC"));
    char buffer[16] = {};
    EXPECT_EQ(read(reader, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "ESC");

    // Closing the printer ends the job: the reader sees the end.
    EXPECT_TRUE(ClosePrinter(printer_));
    printer_ = nullptr;
    EXPECT_EQ(read(reader, buffer, sizeof buffer), 0);
    close(reader);

    const int second = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(second, 0);
    ASSERT_TRUE(OpenPrinterW(u"Receipt 80", &printer_, nullptr));
    ASSERT_GT(StartJob(), 0u);
    close(second);
    DWORD written = 5;
    SetLastError(0);
    EXPECT_FALSE(Write("gone", &written));
    EXPECT_EQ(written, 0u);
    EXPECT_NE(GetLastError(), ERROR_SUCCESS);
    sigset_t pending;
    sigpending(&pending);
    EXPECT_EQ(sigismember(&pending, SIGPIPE), 0);  // nothing left to strike later
    EXPECT_TRUE(EndDocPrinter(printer_));
}

// A socket is connected to and a terminal opened where it stands; the far
// end gets the job and the node stays what it was.
TEST_F(SpoolerJobTest, SocketsAndTerminalsAreWrittenInPlace) {
    const auto socket = root_.path() / "printer.sock";
    auto server = testsupport::StreamReceiver::Socket(socket);
    UseOutput(socket.string());
    ASSERT_GT(StartJob(), 0u);
    ASSERT_TRUE(Write(std::string("\x1B@ticket\0", 9)));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(server.Received(), std::string("\x1B@ticket\0", 9));
    EXPECT_EQ(testsupport::NodeType(socket), S_IFSOCK);

    testsupport::PseudoTerminal terminal;
    ASSERT_TRUE(terminal.ready());
    UseOutput(terminal.path().string());
    ASSERT_GT(StartJob(), 0u);
    ASSERT_TRUE(Write("line\n\x1B"));
    ASSERT_TRUE(EndDocPrinter(printer_));
    EXPECT_EQ(terminal.Read(6), "line\n\x1B");
    EXPECT_EQ(testsupport::NodeType(terminal.path()), S_IFCHR);

    // Nobody listening: the job does not start.
    const auto deaf = root_.path() / "deaf.sock";
    { auto gone = testsupport::StreamReceiver::Socket(deaf); }
    UseOutput(deaf.string());
    EXPECT_EQ(StartJob(), 0u);
    EXPECT_EQ(testsupport::NodeType(deaf), S_IFSOCK);
}

TEST_F(SpoolerJobTest, StandardOutputIsWrittenAndStaysOpen) {
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    const int savedOut = dup(STDOUT_FILENO);
    ASSERT_GE(savedOut, 0);
    ASSERT_EQ(dup2(pipeEnds[1], STDOUT_FILENO), STDOUT_FILENO);
    UseOutput("-");
    const DWORD job = StartJob();
    dup2(savedOut, STDOUT_FILENO);  // the job keeps its own descriptor
    close(savedOut);
    close(pipeEnds[1]);
    ASSERT_GT(job, 0u);
    ASSERT_TRUE(Write("to stdout"));
    ASSERT_TRUE(EndDocPrinter(printer_));
    char buffer[32] = {};
    EXPECT_EQ(read(pipeEnds[0], buffer, sizeof buffer), 9);
    EXPECT_EQ(std::string(buffer, 9), "to stdout");
    EXPECT_EQ(read(pipeEnds[0], buffer, sizeof buffer), 0);  // the job's end closed it
    close(pipeEnds[0]);
    EXPECT_NE(fcntl(STDOUT_FILENO, F_GETFD), -1);
}

}  // namespace
