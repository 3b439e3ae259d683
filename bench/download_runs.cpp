// The download runs a benchmark child process makes: the control's and the reference's.

#include <chrono>
#include <stdexcept>

#include "bench/bench_presenter.h"
#include "bench/child_runs.h"
#include "bench/processes.h"
#include "bench/qb_probe.h"
#include "bench/replay.h"
#include "download_control/kvr_download_ctl.h"
#include "download_control/module_state.h"
#include "platform/activex/property_bag.h"
#include "platform/activex/user_control.h"

namespace kvbench {

int DownloadChild(const ChildArgs& args) {
  const std::string& mode = Required(args, "mode");
  if (mode != "time" && mode != "expenses") throw std::runtime_error("--mode is time or expenses");
  BenchPresenter presenter;
  platform::forms::PresenterScope presenter_scope(presenter);
  ProbeFactory probe(true);
  platform::qb::ScopedClassFactory factory_scope(probe);

  double cpu = 0, total = 0;
  int32_t success = 0, failure = 0;
  bool closed = false;
  {
    tessarine::KVRDowloadctl ctl;
    platform::activex::ControlHost host(ctl);
    const double cpu_before = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    // The first sizing downloads the pending lines; Continue posts them.
    host.Site(platform::activex::PropertyBag{{"KVSecureServerURL", Required(args, "url")},
                                             {"SiteCode", "BENCH"},
                                             {"SiteKey", "K-1"},
                                             {"KalvorUser", "bench"},
                                             {"QBFilePath", Required(args, "company")},
                                             {"TsOrExpense", mode == "time" ? "True" : "False"}},
              7200, 3600);
    if (!ctl.Closed() && ctl.cmdStartDownload.Enabled()) ctl.cmdStartDownload.Click();
    total = Since(start);
    cpu = ProcessCpuSeconds() - cpu_before;
    success = ctl.SuccessCount();
    failure = ctl.FailureCount();
    closed = ctl.Closed();
    host.Teardown();
  }
  tessarine::ResetModule();

  WriteTrace(probe.trace, Required(args, "trace"));
  Emit("total_seconds", total);
  Emit("cpu_seconds", cpu);
  Emit("qb_seconds", probe.qb_seconds);
  Emit("own_seconds", total - probe.qb_seconds);
  Emit("qb_requests", static_cast<double>(probe.requests));
  Emit("qb_failed_calls", static_cast<double>(probe.failed_calls));
  Emit("posted", success);
  Emit("not_posted", failure);
  Emit("closed", closed ? "yes" : "no");
  Emit("peak_bytes", PeakResidentBytes());
  Emit("boxes", static_cast<double>(presenter.boxes.size()));
  for (size_t i = 0; i < presenter.boxes.size(); ++i) Emit("box." + std::to_string(i + 1), presenter.boxes[i]);
  return 0;
}

int DownloadReferenceChild(const ChildArgs& args) {
  const std::vector<QBCall> trace = ReadTrace(Required(args, "trace"));
  std::vector<RecordedRequest> requests;
  for (const auto& file : RecordedFiles(Required(args, "data"))) requests.push_back(ReadRecorded(file));

  const Clock::time_point qb_start = Clock::now();
  const size_t qb_failures = ReplayTrace(trace);
  const double qb_seconds = Since(qb_start);

  HttpReplayer replayer(Required(args, "url"));
  size_t failed = 0;
  const Clock::time_point post_start = Clock::now();
  for (const RecordedRequest& request : requests) {
    if (!replayer.Send(request)) ++failed;
  }
  const double post_seconds = Since(post_start);

  Emit("qb_seconds", qb_seconds);
  Emit("post_seconds", post_seconds);
  Emit("reference_seconds", qb_seconds + post_seconds);
  Emit("qb_failed_calls", static_cast<double>(qb_failures));
  Emit("requests", static_cast<double>(requests.size()));
  Emit("failed_requests", static_cast<double>(failed));
  return failed == 0 ? 0 : 1;
}

}  // namespace kvbench
