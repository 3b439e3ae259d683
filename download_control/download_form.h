#pragma once

// The download control's copy of the web-request form, judged by the download control's page table.

#include "common/web_form/page_table.h"
#include "common/web_form/web_request_form.h"

namespace tessarine {

class frmKVDownload final : public kv::WebRequestForm {
 public:
  frmKVDownload() : WebRequestForm("frmKVDownload", kv::KVRDownloadPageTable()) {}
};

}  // namespace tessarine
