#include "exchange/request_intake.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/test_database.h"

namespace orba {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::TempFolder;
using test::WriteFile;

class RequestIntakeTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(folder()); }

  fs::path folder() const { return root.path() / "Enviar"; }
  std::string Folder() const { return folder().string(); }

  // Every request ready at `now`, in the order given, each taken as the
  // polling cycle takes it (renamed to .Tmp, then forgotten).
  std::vector<std::string> TakeAll(RequestIntake& intake, IntakeTime now) {
    std::vector<std::string> taken;
    intake.Update(now);
    while (const auto name = intake.NextReady(now)) {
      taken.push_back(*name);
      fs::rename(folder() / *name, folder() / (name->substr(0, name->size() - 3) + "Tmp"));
      intake.Forget(*name);
    }
    return taken;
  }

  // A file opened under its final name, written in pieces.
  struct Writer {
    explicit Writer(const fs::path& path) : fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {}
    ~Writer() { Close(); }
    void Write(const std::string& bytes) { EXPECT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size())); }
    void Close() {
      if (fd >= 0) close(fd);
      fd = -1;
    }
    int fd;
  };

  TempFolder root;
};

TEST_F(RequestIntakeTest, CompleteRequestsAreReadyAtOnceInTheOrderTheyArrived) {
  RequestIntake intake;
  ASSERT_TRUE(intake.Open(Folder())) << intake.EventProblem();
  EXPECT_GE(intake.EventDescriptor(), 0);
  const IntakeTime now = IntakeTime::Now();
  WriteFile(folder() / "STM3.Xml", "<a/>");
  WriteFile(folder() / "notes.txt", "not a request");
  WriteFile(root.path() / "STM1.xml", "<b/>");
  fs::rename(root.path() / "STM1.xml", folder() / "STM1.xml");  // moved in
  WriteFile(folder() / "STM2.XML", "<c/>");
  EXPECT_EQ(TakeAll(intake, now), (std::vector<std::string>{"STM3.Xml", "STM1.xml", "STM2.XML"}));

  // A later file of a name already taken is a new request.
  WriteFile(folder() / "STM3.Xml", "<d/>");
  EXPECT_EQ(TakeAll(intake, now), std::vector<std::string>{"STM3.Xml"});
  // A file that went away is not offered.
  WriteFile(folder() / "STM4.Xml", "<e/>");
  fs::remove(folder() / "STM4.Xml");
  EXPECT_TRUE(TakeAll(intake, now).empty());
}

// Hidden names are other programs' temporary files; a link or a FIFO would be
// read through or never end: neither is taken, a refused name is told once.
TEST_F(RequestIntakeTest, HiddenNamesLinksAndFifosAreNeverTaken) {
  RequestIntake intake;
  ASSERT_TRUE(intake.Open(Folder())) << intake.EventProblem();
  const IntakeTime now = IntakeTime::Now();
  WriteFile(folder() / ".STM1.Xml", "<b/>");
  fs::create_symlink(root.path() / "STM0.Xml", root.path() / "STMLINK.Xml");
  fs::rename(root.path() / "STMLINK.Xml", folder() / "STMLINK.Xml");  // moved in: "complete"
  ASSERT_EQ(mkfifo((folder() / "STMFIFO.Xml").c_str(), 0600), 0);
  WriteFile(folder() / "STM2.Xml", "<c/>");
  EXPECT_EQ(TakeAll(intake, now), std::vector<std::string>{"STM2.Xml"});
  EXPECT_EQ(intake.TakeRefused(), (std::vector<std::string>{"STMLINK.Xml", "STMFIFO.Xml"}));
  EXPECT_TRUE(TakeAll(intake, now + RequestIntake::kSafetyListing).empty());  // after a listing too
  EXPECT_TRUE(intake.TakeRefused().empty());
}

TEST_F(RequestIntakeTest, FileStillBeingWrittenUnderItsNameWaitsForItsClose) {
  RequestIntake intake;
  ASSERT_TRUE(intake.Open(Folder()));
  const IntakeTime now = IntakeTime::Now();
  Writer writer(folder() / "PEM1.Xml");
  writer.Write("<pedido mesa=\"1\">");
  WriteFile(folder() / "STM1.Xml", "<local/>");  // arrives later, complete
  EXPECT_EQ(TakeAll(intake, now), std::vector<std::string>{"STM1.Xml"});
  // Long past the time a file without events must stay unchanged.
  EXPECT_TRUE(TakeAll(intake, now + 2s).empty());
  writer.Write("<item/></pedido>");
  writer.Close();
  EXPECT_EQ(TakeAll(intake, now + 2s), std::vector<std::string>{"PEM1.Xml"});

  // A link made into the folder never reports a close: it is taken once it
  // has been left alone long enough.
  WriteFile(root.path() / "STM9.Xml", "<local/>");
  fs::create_hard_link(root.path() / "STM9.Xml", folder() / "STM9.Xml");
  const IntakeTime later = IntakeTime::Now();
  EXPECT_TRUE(TakeAll(intake, later).empty());
  EXPECT_EQ(TakeAll(intake, later + RequestIntake::kWriterSilence + 1s), std::vector<std::string>{"STM9.Xml"});
}

TEST_F(RequestIntakeTest, WithoutEventsAFileIsTakenOnceItHasStoppedChanging) {
  // There before the watch, or on a file system without events.
  Writer writer(folder() / "STM1.Xml");
  writer.Write("<local ");
  RequestIntake intake;
  EXPECT_FALSE(intake.Open(Folder(), RequestIntake::Events::Ignore));
  EXPECT_EQ(intake.EventDescriptor(), -1);
  EXPECT_TRUE(TakeAll(intake, IntakeTime::Now()).empty());  // just written
  std::this_thread::sleep_for(2 * RequestIntake::kSettleTime);
  writer.Write("mesa=\"1\"/>");
  EXPECT_TRUE(TakeAll(intake, IntakeTime::Now()).empty());  // changed since
  std::this_thread::sleep_for(2 * RequestIntake::kSettleTime);
  EXPECT_EQ(TakeAll(intake, IntakeTime::Now()), std::vector<std::string>{"STM1.Xml"});

  // One last changed longer ago than the settling time goes at once.
  WriteFile(folder() / "STM2.Xml", "<local/>");
  RequestIntake fresh;
  fresh.Open(Folder(), RequestIntake::Events::Ignore);
  EXPECT_EQ(TakeAll(fresh, IntakeTime::Now() + 1s), std::vector<std::string>{"STM2.Xml"});
}

TEST_F(RequestIntakeTest, IdleFolderIsNotListedAgainUntilItChangesOrTheSafetyListingIsDue) {
  for (int i = 0; i < 500; ++i) WriteFile(folder() / ("XYZ" + std::to_string(i) + ".Tmp"), "<x/>");
  for (const auto events : {RequestIntake::Events::Use, RequestIntake::Events::Ignore}) {
    RequestIntake intake;
    const IntakeTime start = IntakeTime::Now();
    intake.Open(Folder(), events, start);
    for (int tick = 1; tick < 19; ++tick) intake.Update(start + tick * 100ms);
    EXPECT_EQ(intake.Listings(), 1u);
    EXPECT_TRUE(intake.TakeChange());  // the first look
    EXPECT_FALSE(intake.TakeChange());

    WriteFile(folder() / "STM1.Xml", "<local/>");
    intake.Update(start + 1900ms);
    EXPECT_EQ(intake.Listings(), 2u);
    EXPECT_TRUE(intake.TakeChange());
    EXPECT_EQ(intake.NextReady(start + 2500ms), "STM1.Xml");
    intake.Update(start + 3900ms);
    EXPECT_EQ(intake.Listings(), 3u);  // the safety listing
    fs::remove(folder() / "STM1.Xml");
  }
}

}  // namespace
}  // namespace orba
