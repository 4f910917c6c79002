// EFS2 steps on a phone in normal mode: the media and module folders are cleared and written
// again from their merge files.
#include <initializer_list>

#include "base/messages.h"
#include "base/process_log.h"
#include "base/progress_sink.h"
#include "package/image_catalogue.h"
#include "phonedata/efs2_client.h"
#include "session/download_steps.h"
#include "session/result_codes.h"

namespace tr52 {

namespace {

constexpr const char* kMediaFolders[] = {"/VIZED/Common/", "/VIZED/Internet/", "/VIZED/Media/",
                                         "/VIZED/Obigo/"};
constexpr const char* kModuleFolders[] = {"/VIZED/Pxo/", "/brew/"};

// A folder removal is tried twice: a phone busy with a file may refuse the first time.
bool RemoveFolderWithRetry(StepContext& ctx, const char* folder) {
  return ctx.efs->RemoveSubDirectory(folder, false) || ctx.efs->RemoveSubDirectory(folder, false);
}

bool PutMergeFileOf(StepContext& ctx, int imageType) {
  return ctx.efs->PutMergeFile(ctx.images.ImageData(imageType), ctx.images.ImageSize(imageType),
                               false);
}

}  // namespace

ResultCode MediaStep(StepContext& ctx, bool flash) {
  if (!ctx.Selects(IMAGE_MEDIA)) return ResultCode::Ok;
  if (!flash) {
    Log("[COM%d] ERASE MEDIA", ctx.job.port);
    ctx.Announce(TYPE_WPARAM_ERASE_MEDIA, 0, "TYPE_WPARAM_ERASE_MEDIA %d ",
                 TYPE_WPARAM_ERASE_MEDIA);
    ctx.PointProgressAt(TYPE_WPARAM_ERASE_MEDIA);
    for (const char* folder : kMediaFolders)
      if (!RemoveFolderWithRetry(ctx, folder)) return ResultCode::RemoveMedia;
    return ResultCode::Ok;
  }
  Log("[COM%d] FLASHING MEDIA", ctx.job.port);
  ctx.Announce(TYPE_WPARAM_WRITE_MEDIA, 0, "TYPE_WPARAM_WRITE_MEDIA %d", TYPE_WPARAM_WRITE_MEDIA);
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_MEDIA);
  return PutMergeFileOf(ctx, IMAGE_MEDIA) ? ResultCode::Ok : ResultCode::DownloadMedia;
}

ResultCode ModuleStep(StepContext& ctx, bool flash) {
  if (!ctx.Selects(IMAGE_MODULE)) return ResultCode::Ok;
  if (!flash) {
    Log("[COM%d] ERASING MODULE", ctx.job.port);
    ctx.Announce(TYPE_WPARAM_ERASE_MODULE, 0, "TYPE_WPARAM_ERASE_MODULE %d ",
                 TYPE_WPARAM_ERASE_MODULE);
    ctx.PointProgressAt(TYPE_WPARAM_ERASE_MODULE);
    Log("[COM%d] REMOVE_MODULE ", ctx.job.port);
    const bool filesOnly = RemovesModuleFilesOnly(ctx.run.bootMode);
    for (const char* folder : kModuleFolders) {
      const bool removed =
          filesOnly ? ctx.efs->RemoveFiles(folder) : RemoveFolderWithRetry(ctx, folder);
      if (!removed) {
        Log("[COM%d] ERROR ZU3G_ERROR_REMOVE_MODULE", ctx.job.port);
        return ResultCode::RemoveModule;
      }
    }
    return ResultCode::Ok;
  }
  Log("[COM%d] FLASHING MODULE...", ctx.job.port);
  ctx.Announce(TYPE_WPARAM_WRITE_MODULE, 0, "TYPE_WPARAM_WRITE_MODULE %d",
               TYPE_WPARAM_WRITE_MODULE);
  ctx.PointProgressAt(TYPE_WPARAM_WRITE_MODULE);
  if (PutMergeFileOf(ctx, IMAGE_MODULE)) return ResultCode::Ok;
  Log("[COM%d] ERROR G3G_ERROR_DOWNLOAD_MODULE", ctx.job.port);
  return ResultCode::DownloadModule;
}

}  // namespace tr52
