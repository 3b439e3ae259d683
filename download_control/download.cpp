// The download of the site's pending lines, run once by the start-up.

#include <exception>

#include "download_control/download_form.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "download_control/service_requests.h"
#include "platform/base/error.h"
#include "platform/forms/form.h"

namespace tessarine {

PLKVUtilityResult KVRDowloadctl::DownloadFromServer() {
  TessarineModule& m = Module();
  PLKVUtilityResult result = kvurSystemError;
  try {
    dtDownloadStartTime = kv::DateTime::Now();
    m.varTARecordCount = 0;
    m.varLARecordCount = 0;
    m.varEXPRecordCount = 0;
    auto& form = platform::forms::DefaultInstance<frmKVDownload>();
    form.Load();
    form.bIsNavigationComplete = false;
    form.bIsInterrupted = false;
    if (!form.Request(kDownloadPage, DownloadUrl(m.params))) {
      result = kvurAspFailed;
    } else {
      sDownloadLines = SplitDownloadLines(form.sReceivedText);
      iLastLineIndex = static_cast<int32_t>(sDownloadLines.size()) - 1;
      const PendingCounts counts = CountPendingRecords(sDownloadLines, m.params.TsOrExpense);
      m.varTARecordCount = counts.time;
      m.varLARecordCount = counts.leave;
      m.varEXPRecordCount = counts.expenses;
      lblGather.SetCaption(m.params.TsOrExpense ? std::to_string(counts.time + counts.leave) +
                                                      " time/leave activity rows to be downloaded.."
                                                : std::to_string(counts.expenses) + " expense(s) to be downloaded..");
      lblGather.Refresh();
      bDownloaded = true;
      result = kvurSuccess;
    }
  } catch (const std::exception&) {
    result = kvurSystemError;
  }
  if (platform::forms::HasDefaultInstance<frmKVDownload>()) {
    auto& form = platform::forms::DefaultInstance<frmKVDownload>();
    if (form.bIsLoaded) form.Unload();
  }
  return result;
}

}  // namespace tessarine
