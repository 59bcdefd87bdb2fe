#include "exchange/polling.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>

#include "support/fixed_clock.h"
#include "common/general_parameters.h"
#include "host/routes.h"
#include "exchange/folders.h"
#include "exchange/polling_state.h"
#include "exchange/request_intake.h"
#include "orders/comanda_order.h"
#include "orders/customer.h"
#include "services/comanda_status.h"
#include "services/table_status.h"
#include "support/test_context.h"
#include "support/test_database.h"

namespace orba {
namespace {


namespace fs = std::filesystem;
using test::ReadFile;
using test::WriteFile;

std::string StmRequest(const std::string& mesa) {
  return "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<local mesa=\"" + mesa +
         "\" status=\"\" mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"\"/>\r\n";
}

class PollingTest : public ::testing::Test, protected test::TestContext {
 protected:
  void SetUp() override {
    db.Exec(
        "INSERT INTO ambiente_local (id_amb, nm_amb, ic_ocu_chk_in) VALUES (1, 'SALAO', 'N');"
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
        "VALUES (1, '1', 1, 'A', 'E', 3, 'N');"
        "INSERT INTO local (id_loc, nm_loc, id_amb, ic_atv_ina, ic_stt_loc, qt_loc_ocu, ic_pap_fil) "
        "VALUES (2, 'MESA AÇÃO', 1, 'A', 'L', 0, 'N');");
    intake.Open(parameters.RequestFolder);
  }

  fs::path requests() const { return parameters.RequestFolder; }
  fs::path answers() const { return parameters.AnswerFolder; }

  static std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
  }
  std::vector<std::string> RequestFolderFiles() const { return Sorted(ListFiles(requests().string())); }
  std::vector<std::string> AnswerFolderFiles() const { return Sorted(ListFiles(answers().string())); }

  std::string StatusOf(const std::string& answer_name) {
    pugi::xml_document answer;
    EXPECT_TRUE(answer.load_file((answers() / answer_name).c_str())) << answer_name;
    return answer.child("local").attribute("status").value();
  }

  RequestIntake intake;
};

TEST_F(PollingTest, EmptyFolderEndsAtOnce) {
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(polling.Status, "Parado");
  EXPECT_TRUE(polling.CurrentFile.empty());
  EXPECT_TRUE(AnswerFolderFiles().empty());
  EXPECT_TRUE(db.op.events.empty());
}

TEST_F(PollingTest, RequestIsWorkedUnderTmpAndAnsweredUnderItsOwnName) {
  WriteFile(requests() / "stm0001.xml", StmRequest("1"));
  OnPollingTimer(context, &Dispatch, intake);
  EXPECT_EQ(polling.CurrentFile, "stm0001.xml");
  EXPECT_EQ(polling.CurrentTmpFile, "stm0001.Tmp");
  EXPECT_EQ(polling.CurrentStem, "stm0001");
  EXPECT_EQ(polling.CurrentCode, "stm");
  EXPECT_EQ(polling.Status, "Parado");
  EXPECT_FALSE(polling.Busy);
  EXPECT_TRUE(RequestFolderFiles().empty());
  EXPECT_EQ(AnswerFolderFiles(), std::vector<std::string>{"stm0001.xml"});
  EXPECT_EQ(StatusOf("stm0001.xml"), "E");
  EXPECT_EQ(polling.AnswerFiles, std::vector<std::string>{"stm0001.xml"});
}

TEST_F(PollingTest, UnknownCodeStaysInWorkWithoutAnswer) {
  WriteFile(requests() / "XYZ01.Xml", StmRequest("1"));
  WriteFile(requests() / "AB.Xml", StmRequest("1"));
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), (std::vector<std::string>{"AB.Tmp", "XYZ01.Tmp"}));
  EXPECT_TRUE(AnswerFolderFiles().empty());
  // Never taken again.
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), (std::vector<std::string>{"AB.Tmp", "XYZ01.Tmp"}));
  EXPECT_TRUE(AnswerFolderFiles().empty());
}

TEST_F(PollingTest, StaleAnswerOfTheSameNameIsReplaced) {
  WriteFile(answers() / "STM0002.Xml", "<local status=\"old\"/>");
  WriteFile(requests() / "STM0002.Xml", StmRequest("1"));
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(StatusOf("STM0002.Xml"), "E");
  EXPECT_EQ(AnswerFolderFiles(), std::vector<std::string>{"STM0002.Xml"});
}

TEST_F(PollingTest, ThreeRequestsAreAllAnsweredInOneCycle) {
  WriteFile(requests() / "STM1.Xml", StmRequest("1"));
  WriteFile(requests() / "STM2.XML", StmRequest("MESA AÇÃO"));
  WriteFile(requests() / "STM3.xml", StmRequest("404"));
  WriteFile(requests() / "notes.txt", "not a request");
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), std::vector<std::string>{"notes.txt"});
  EXPECT_EQ(AnswerFolderFiles(), (std::vector<std::string>{"STM1.Xml", "STM2.XML", "STM3.xml"}));
  EXPECT_EQ(StatusOf("STM1.Xml"), "E");
  EXPECT_EQ(StatusOf("STM3.xml"), "N");
}

TEST_F(PollingTest, MalformedRequestIsAnsweredAndTheNextOneServed) {
  WriteFile(requests() / "STM0009.Xml", "<?xml version=\"1.0\"?><local mesa=\"1\" status=\"\"");
  PollingCycle(context, &Dispatch, intake);
  EXPECT_TRUE(RequestFolderFiles().empty());
  ASSERT_EQ(AnswerFolderFiles(), std::vector<std::string>{"STM0009.Xml"});
  EXPECT_EQ(ReadFile(answers() / "STM0009.Xml"), "");
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("STM0009.Xml"), std::string::npos) << db.op.events[0];

  WriteFile(requests() / "STM0010.Xml", StmRequest("1"));
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(StatusOf("STM0010.Xml"), "E");
  EXPECT_EQ(db.op.events.size(), 1u);
}

TEST_F(PollingTest, Latin1RequestIsAnsweredInLatin1WithItsOwnDeclaration) {
  WriteFile(requests() / "STM0003.Xml",
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<local mesa=\"mesa a\xE7\xE3o\" status=\"\" "
            "mensagem=\"\" ambiente=\"\" posisaoAss=\"\" tipoConta=\"\" pessoas=\"\"/>\r\n");
  WriteFile(requests() / "STM0004.Xml", StmRequest("Sal\xE3o"));
  PollingCycle(context, &Dispatch, intake);

  const std::string found = ReadFile(answers() / "STM0003.Xml");
  EXPECT_EQ(found.rfind("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><local mesa=\"mesa a\xE7\xE3o\"", 0), 0u)
      << found;
  EXPECT_NE(found.find("status=\"L\""), std::string::npos) << found;

  const std::string missing = ReadFile(answers() / "STM0004.Xml");
  EXPECT_NE(missing.find("mensagem=\"MESA\\nN\xC3O ENCONTRADA.\""), std::string::npos) << missing;
  EXPECT_EQ(missing.find("\xC3\x83"), std::string::npos) << "no UTF-8 in a Latin-1 answer";
}

TEST_F(PollingTest, Utf8AndUndeclaredRequestsKeepTheirForm) {
  WriteFile(requests() / "STM0005.Xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><local mesa=\"ação\" status=\"\" mensagem=\"\"/>");
  WriteFile(requests() / "STM0006.Xml", "<local mesa=\"ação\" status=\"\" mensagem=\"\"/>");
  PollingCycle(context, &Dispatch, intake);
  // (Without the other attributes the answer is the read error.)
  EXPECT_EQ(ReadFile(answers() / "STM0005.Xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><local mesa=\"ação\" status=\"X\" "
            "mensagem=\"Erro na leitura\"/>");
  EXPECT_EQ(ReadFile(answers() / "STM0006.Xml"),
            "<local mesa=\"ação\" status=\"X\" mensagem=\"Erro na leitura\"/>");
}

TEST_F(PollingTest, RequestInAnEncodingNotDecodedOnLoadKeepsItsBytes) {
  // A declaration that the loader does not take for ISO-8859-1 is read as
  // UTF-8; the answer must not be re-encoded as if it had been decoded.
  const std::string request = "<?xml version=\"1.0\" encoding=\"LATIN-1\"?><local mesa=\"a\xE7\xE3o\" status=\"\" "
                              "mensagem=\"\"/>";
  WriteFile(requests() / "STM0011.Xml", request);
  PollingCycle(context, &Dispatch, intake);
  const std::string answer = ReadFile(answers() / "STM0011.Xml");
  EXPECT_NE(answer.find("mesa=\"a\xE7\xE3o\""), std::string::npos) << answer;
  EXPECT_NE(answer.find("status=\"X\""), std::string::npos) << answer;
}

TEST_F(PollingTest, TimerDoesNothingWhileACycleRuns) {
  WriteFile(requests() / "STM0007.Xml", StmRequest("1"));
  polling.Busy = true;
  OnPollingTimer(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), std::vector<std::string>{"STM0007.Xml"});
  polling.Busy = false;
  OnPollingTimer(context, &Dispatch, intake);
  EXPECT_TRUE(RequestFolderFiles().empty());
}

// A handler that opens a transaction, edits the document and then fails
// without trapping its failure.
bool EscapingHandler(Context& context, std::string_view, pugi::xml_document& request) {
  context.db.BeginTransaction();
  context.db.ExecuteSql("insert into LOG_TO_UP (id_seq_log) values (1)");
  request.child("local").attribute("status").set_value("?");
  throw DatabaseError("falha inesperada");
}

TEST_F(PollingTest, FailureEscapingAHandlerIsLoggedAnsweredAndRolledBack) {
  WriteFile(requests() / "STM1.Xml", StmRequest("1"));
  PollingCycle(context, &EscapingHandler, intake);
  EXPECT_EQ(AnswerFolderFiles(), std::vector<std::string>{"STM1.Xml"});
  EXPECT_EQ(StatusOf("STM1.Xml"), "?");
  EXPECT_TRUE(RequestFolderFiles().empty());
  ASSERT_EQ(db.op.events.size(), 1u);
  EXPECT_NE(db.op.events[0].find("STM1.Xml"), std::string::npos);
  EXPECT_FALSE(db.session.InTransaction());
  EXPECT_EQ(db.Scalar("select count(*) from LOG_TO_UP"), "0");

  // The next request is served normally.
  WriteFile(requests() / "STM2.Xml", StmRequest("1"));
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(StatusOf("STM2.Xml"), "E");
}

TEST_F(PollingTest, PlaceLookupIsNotAnsweredInComandaMode) {
  parameters.ComandaMode = "S";
  WriteFile(requests() / "SLA0008.Xml", StmRequest("1"));
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), std::vector<std::string>{"SLA0008.Tmp"});
  EXPECT_TRUE(AnswerFolderFiles().empty());
}

TEST_F(PollingTest, RequestStillBeingWrittenIsTakenOnlyOnceComplete) {
  const std::string request = StmRequest("1");
  const int fd = open((requests() / "STM0012.Xml").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(write(fd, request.data(), 40), 40);
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(RequestFolderFiles(), std::vector<std::string>{"STM0012.Xml"});
  EXPECT_TRUE(AnswerFolderFiles().empty());

  ASSERT_EQ(write(fd, request.data() + 40, request.size() - 40), ssize_t(request.size() - 40));
  close(fd);
  PollingCycle(context, &Dispatch, intake);
  EXPECT_EQ(StatusOf("STM0012.Xml"), "E");
  EXPECT_TRUE(db.op.events.empty());
}

std::atomic<bool> stop_during_dispatch{false};
bool DispatchThenStop(Context& context, std::string_view code, pugi::xml_document& request) {
  stop_during_dispatch = true;  // SIGTERM while a request is in hand
  return Dispatch(context, code, request);
}

TEST_F(PollingTest, StopRequestFinishesTheRequestInHandAndTakesNoOther) {
  for (const char* name : {"STM1.Xml", "STM2.Xml", "STM3.Xml"}) WriteFile(requests() / name, StmRequest("1"));
  stop_during_dispatch = false;
  OnPollingTimer(context, &DispatchThenStop, intake, &stop_during_dispatch);
  const std::vector<std::string> answered = AnswerFolderFiles();
  ASSERT_EQ(answered, std::vector<std::string>{"STM1.Xml"});
  EXPECT_EQ(StatusOf("STM1.Xml"), "E");
  EXPECT_EQ(RequestFolderFiles(), (std::vector<std::string>{"STM2.Xml", "STM3.Xml"}));
  EXPECT_FALSE(polling.Busy);

  // Once stopping, a timer event starts no cycle.
  OnPollingTimer(context, &Dispatch, intake, &stop_during_dispatch);
  EXPECT_EQ(AnswerFolderFiles(), std::vector<std::string>{"STM1.Xml"});
}

}  // namespace
}  // namespace orba
