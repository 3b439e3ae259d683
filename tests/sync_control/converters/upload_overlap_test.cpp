// The records after a full batch are converted while the service answers it; what the user and the callers see
// stays as if each batch had been answered before the next record: held-back progress, and the records converted
// ahead given back when the batch fails, is cancelled or a record after it fails.

#include <gtest/gtest.h>

#include "platform/base/error.h"
#include "platform/forms/event_loop.h"
#include "sync_control/converters/list_converter.h"
#include "sync_control/converters/list_converters.h"
#include "sync_control/converters/record_sets.h"
#include "sync_control/module_state.h"
#include "sync_control/upload_form.h"
#include "tests/sync_control/converters/converter_fixture.h"

namespace brintavel::testing {
namespace {

std::vector<Record> Classes(int n) {
  std::vector<Record> out;
  for (int i = 0; i < n; ++i) {
    Record r{"ClassRet", {}};
    r.Set("ListID", "C-" + std::to_string(i)).Set("Name", "Class " + std::to_string(i)).Set("IsActive", "true");
    out.push_back(r);
  }
  return out;
}

// Runs `tick` every 10 ms of the loop while it lives.
class Ticker {
 public:
  explicit Ticker(std::function<void()> tick)
      : id_(platform::forms::EventLoop::Current().StartTimer(std::chrono::milliseconds(10), std::move(tick))) {}
  ~Ticker() { platform::forms::EventLoop::Current().StopTimer(id_); }

 private:
  platform::forms::EventLoop::TimerId id_;
};

class UploadOverlapTest : public ConverterTest {
 protected:
  // The n-th upload (from 1) waits `ms` before it is answered; the others are answered at once.
  void DelayUpload(int n, int ms) const {
    for (int i = 1; i < n; ++i) service->WriteFile("faults/brintavel.asp." + std::to_string(i), "");
    service->WriteFile("faults/brintavel.asp." + std::to_string(n), "delay-ms " + std::to_string(ms));
  }

  // The form keeps the last answer until the next, so none yet says the first upload is out. The service's
  // request count cannot say it: the second upload may be under way before the service records it.
  static bool FirstUploadInFlight() {
    return HasUploadForm() && UploadForm().bIsUploading && UploadForm().sUploadStatus.empty();
  }

  bool SecondUploadInFlight() const {
    return HasUploadForm() && UploadForm().bIsUploading && service->ReceivedCount() >= 2;
  }

  // A run of 250 classes that stopped at its second batch: what it leaves is what a run leaves that converts
  // nothing after a batch until the batch is answered.
  void ExpectStoppedAtTheSecondBatch() const {
    EXPECT_TRUE(ctl->bAbortSync);
    EXPECT_EQ(Uploads().size(), 2u);
    EXPECT_TRUE(StatusReports().empty());
    EXPECT_EQ(Module().varClassCount, 200);
    EXPECT_EQ(ctl->lngBatchCount, 100);
    EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (200)");
    EXPECT_EQ(ctl->ProgressBar1.Value(), 199);
    // The statement pieces hold the last record of the batch.
    EXPECT_NE(ctl->sStatement.find("'C-199'"), std::string::npos) << ctl->sStatement;
    const RecordSet& classes = ModuleRecordSets().ClassRecords;
    EXPECT_EQ(classes[200].ListID(), "C-199");
    for (int32_t row = 201; row <= 250; ++row) {
      EXPECT_EQ(classes[row].ListID(), "") << row;
      EXPECT_FALSE(classes[row].Flag(classes.active_member())) << row;
    }
  }
};

TEST_F(UploadOverlapTest, TheNextBatchIsConvertedWhileTheServiceAnswersButItsProgressWaitsForTheAnswer) {
  DelayUpload(1, 600);
  Module().sQBXMLResponse = Response(Classes(250));
  bool seen_ahead = false;
  std::string caption_meanwhile, beyond_meanwhile;
  Ticker ticker([&] {
    const RecordSet& classes = ModuleRecordSets().ClassRecords;
    if (seen_ahead || !FirstUploadInFlight()) return;
    // The whole next batch, and no further: its upload waits for this answer.
    if (classes.HasArrays() && classes[200].ListID() == "C-199") {
      seen_ahead = true;
      caption_meanwhile = ctl->lblProcess.Caption();
      beyond_meanwhile = classes[201].ListID();
    }
  });
  GetClassesFromQB(*ctl);

  EXPECT_TRUE(seen_ahead) << "the records after the first batch were not converted while it was answered";
  EXPECT_EQ(caption_meanwhile, "Getting Classes from QB (100)");
  EXPECT_EQ(beyond_meanwhile, "");
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (250)");
  EXPECT_FALSE(ctl->bAbortSync);
  const auto uploads = Uploads();
  ASSERT_EQ(uploads.size(), 3u);
  EXPECT_EQ(StatusReports().size(), 1u);
  const auto statements = AllStatements();
  ASSERT_EQ(statements.size(), 250u);
  EXPECT_EQ(Module().varClassCount, 250);
}

TEST_F(UploadOverlapTest, ABatchThatFailsGivesBackTheRecordsConvertedWhileItWasAnswered) {
  DelayUpload(2, 400);
  service->QueueAnswers("brintavel.asp", {"SUCCESS", "Database is busy"});
  Module().sQBXMLResponse = Response(Classes(250));
  GetClassesFromQB(*ctl);
  EXPECT_EQ(ctl->lngUploadResult, kvurAspFailed);
  EXPECT_EQ(Module().sServerMessage, "Database is busy");
  ExpectStoppedAtTheSecondBatch();
}

TEST_F(UploadOverlapTest, ACancelWhileABatchIsAnsweredGivesBackTheRecordsConvertedMeanwhile) {
  DelayUpload(2, 5000);
  Module().sQBXMLResponse = Response(Classes(250));
  Ticker ticker([this] {
    if (SecondUploadInFlight()) UploadForm().CancelRequest();
  });
  GetClassesFromQB(*ctl);
  EXPECT_EQ(ctl->lngUploadResult, kvurProcessInterrupted);
  ExpectStoppedAtTheSecondBatch();
}

// A record that throws after a full batch: the converter would never have reached it if that batch fails, and
// reaches it after the progress of the records before it if the batch is accepted.
class RecordAfterABatchTest : public UploadOverlapTest {
 protected:
  void SetUp() override {
    UploadOverlapTest::SetUp();
    DelayUpload(1, 300);
    ModuleRecordSets().ClassRecords.Resize(160, "");
  }

  void Convert() {
    BeginProgress(*ctl, 160, "Getting Classes from QB", ProgressStyle::FromZero);
    StatementUploader uploader(*ctl, "C", &BrintavelCtl::lngFailedClassCnt);
    uploader.rows = &ModuleRecordSets().ClassRecords;
    uploader.converted = &converted;
    uploader.ForEachRecord(160, ProgressStyle::FromZero, [&](size_t i) {
      const std::string id = "C-" + std::to_string(i);
      ModuleRecordSets().ClassRecords[static_cast<int32_t>(i + 1)].SetText(1, id);
      if (i == 149) throw kv::TypeMismatch();
      ++converted;
      uploader.ShowCount("Getting Classes from QB (", converted);
      return uploader.Write("INSERT INTO ClassInfo (QBListID) VALUES ('" + id + "')\r\n");
    });
  }

  int64_t converted = 0;
};

TEST_F(RecordAfterABatchTest, NeverThrowsWhenTheBatchBeforeItFails) {
  service->QueueAnswers("brintavel.asp", {"Database is busy"});
  EXPECT_NO_THROW(Convert());
  EXPECT_TRUE(ctl->bAbortSync);
  EXPECT_EQ(converted, 100);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (100)");
  EXPECT_EQ(ModuleRecordSets().ClassRecords[100].ListID(), "C-99");
  EXPECT_EQ(ModuleRecordSets().ClassRecords[150].ListID(), "");
}

TEST_F(RecordAfterABatchTest, ThrowsAfterTheProgressOfTheRecordsBeforeItWhenTheBatchIsAccepted) {
  EXPECT_THROW(Convert(), kv::Error);
  EXPECT_FALSE(ctl->bAbortSync);
  EXPECT_EQ(Uploads().size(), 1u);
  EXPECT_EQ(converted, 149);
  EXPECT_EQ(ctl->lblProcess.Caption(), "Getting Classes from QB (149)");
  EXPECT_EQ(ctl->ProgressBar1.Value(), 149);
  EXPECT_EQ(ModuleRecordSets().ClassRecords[150].ListID(), "C-149");
}

TEST_F(UploadOverlapTest, DebugModeStillSendsEachStatementBeforeTheNextRecord) {
  ctl->DebugMode = true;
  ctl->optContinue.SetValue(true);
  DelayUpload(1, 300);
  Module().sQBXMLResponse = Response(Classes(3));
  // The second record's ListID at each look while the first statement is answered.
  std::vector<std::string> second_meanwhile;
  Ticker ticker([&] {
    const RecordSet& classes = ModuleRecordSets().ClassRecords;
    if (FirstUploadInFlight() && classes.HasArrays()) {
      second_meanwhile.emplace_back(classes[2].ListID());
    }
  });
  GetClassesFromQB(*ctl);
  ASSERT_FALSE(second_meanwhile.empty());
  for (const std::string& list_id : second_meanwhile) EXPECT_EQ(list_id, "");
  EXPECT_EQ(Uploads().size(), 3u);
}

}  // namespace
}  // namespace brintavel::testing
