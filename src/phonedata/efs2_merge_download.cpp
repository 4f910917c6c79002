// Efs2Client's media / module download: replaying an EFS image onto the phone and clearing a
// phone folder before that.
#include <climits>

#include "base/messages.h"
#include "base/printable_text.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "link/phone_link.h"
#include "phonedata/efs2_client.h"
#include "phonedata/efs2_image.h"

namespace tr52 {

bool Efs2Client::PutMergeFile(const uint8_t* image, size_t length, bool protectMedia) {
  CEfs2Image efs;
  if (!efs.Attach(image, length)) {
    Log("Efs2Image Can't Open");
    return false;
  }
  if (reporter_) {
    const uint64_t count = efs.ObjectCount();
    reporter_->InitProgress(TYPE_WPARAM_PROGRESS_POS,
                            static_cast<int>(count > INT_MAX ? INT_MAX : count));
  }
  if (!Ready()) return false;
  // A phone that does not answer the query takes the default chunk size.
  static_cast<void>(QueryWriteChunk());
  // Every object the image holds is written, whatever its header counts say.
  size_t cursor = 0;
  for (uint64_t i = 0; i < efs.WalkedObjects() && !link_->IsAborted(); ++i) {
    uint32_t type = 0;
    std::string path;
    std::unique_ptr<uint8_t[]> contents;
    size_t size = 0;
    if (!efs.ReadObject(type, path, cursor, contents, size)) {
      Log("ERROR(PutMergeFile) : Can't Read Object Data Info");
      return false;
    }
    if (protectMedia && IsProtectedMediaPath(path)) continue;
    if (type != CEfs2Image::kTypeFile) {
      if (const uint32_t handle = OpenDir(path)) {
        // The folder is there; closing its handle again changes nothing for the download.
        static_cast<void>(CloseDir(handle));
      } else if (!link_->IsAborted() && !MakeDirectory(path)) {
        Log("ERROR(PutMergeFile) : MakeDirectory - %s", PrintableText(path).c_str());
        return false;
      }
    } else {
      if (!contents) {
        Log("ERROR(PutMergeFile) : Not Enough Memory");
        return false;
      }
      const bool uploaded = UploadFile(path, contents.get(), size);
      contents.reset();
      if (!uploaded) {
        if (link_->IsAborted()) break;
        Log("ERROR(PutMergeFile) : Upload Failed - %s", PrintableText(path).c_str());
        return false;
      }
    }
    if (reporter_) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  }
  if (link_->IsAborted()) {
    Log("ERROR(PutMergeFile) : 중간에 Abort시에 실패로 처리");
    return false;
  }
  return true;
}

bool Efs2Client::RemoveSubDirectory(const std::string& phoneDir, bool protectMedia) {
  Log("[COM%d] RemoveSubDirectory: %s", Port(), PrintableText(phoneDir).c_str());
  std::vector<Efs2TreeItem> items;
  // A folder that is not there cannot be listed and has nothing to remove.
  static_cast<void>(ListTree(items, phoneDir, ""));
  if (reporter_) reporter_->InitProgress(TYPE_WPARAM_PROGRESS_POS, static_cast<int>(items.size()));
  for (size_t i = items.size(); i-- > 0;) {
    const Efs2TreeItem& item = items[i];
    const std::string full = item.phoneDir + item.name;
    if (!(protectMedia && IsProtectedMediaPath(full))) {
      if (item.type == 0) {
        if (!RemoveFile(full)) {
          Log("   RemoveFile FAIL");
          return false;
        }
      } else if (!RemoveDirectory(full)) {
        return true;
      }
    }
    if (reporter_) reporter_->StepProgress(TYPE_WPARAM_PROGRESS_POS, 1);
  }
  return true;
}

}  // namespace tr52
