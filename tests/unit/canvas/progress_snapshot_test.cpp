// The picture of the pane's bar mid-download: written as PNG and read back.
#include "progress_snapshot.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "support/temp_dir.h"
#include "ui/dialog_templates.h"
#include "win/controls.h"

using namespace win;

namespace {

TEST(ProgressSnapshot, PaneBarMidDownloadIsWrittenAsPng) {
  tr52test::TempDir dir;
  const std::string path = dir.File("progress_bar.png");
  ASSERT_TRUE(
      canvas::WriteProgressBarPng(tr52::kProgressDialogTemplate, tr52::IDC_PROGRESS_BAR, 45, path));
  auto expected =
      canvas::RenderProgressBar(tr52::kProgressDialogTemplate, tr52::IDC_PROGRESS_BAR, 45);
  ASSERT_NE(expected, nullptr);
  // The bar is 60 x 11 dialog units at the raster units.
  EXPECT_EQ(expected->Width(), 120);
  EXPECT_EQ(expected->Height(), 22);
  EXPECT_EQ(expected->Pixel(2 + 116 * 45 / 100 - 1, 2), GetSysColor(COLOR_HIGHLIGHT));
  EXPECT_EQ(expected->Pixel(2 + 116 * 45 / 100, 2), GetSysColor(COLOR_BTNFACE));

  cairo_surface_t* png = cairo_image_surface_create_from_png(path.c_str());
  ASSERT_EQ(cairo_surface_status(png), CAIRO_STATUS_SUCCESS);
  ASSERT_EQ(cairo_image_surface_get_width(png), 120);
  ASSERT_EQ(cairo_image_surface_get_height(png), 22);
  const unsigned char* data = cairo_image_surface_get_data(png);
  const int stride = cairo_image_surface_get_stride(png);
  int differ = 0;
  for (int y = 0; y < 22; ++y)
    for (int x = 0; x < 120; ++x) {
      uint32_t px;
      std::memcpy(&px, data + y * stride + x * 4, 4);
      differ += RGB((px >> 16) & 0xFF, (px >> 8) & 0xFF, px & 0xFF) != expected->Pixel(x, y);
    }
  cairo_surface_destroy(png);
  EXPECT_EQ(differ, 0);

  EXPECT_FALSE(canvas::WriteProgressBarPng(tr52::kProgressDialogTemplate, tr52::IDC_STEP_LIST, 45,
                                           dir.File("list.png")));
  EXPECT_FALSE(canvas::WriteProgressBarPng(tr52::kProgressDialogTemplate, tr52::IDC_PROGRESS_BAR,
                                           45, dir.File("missing/folder.png")));
}

}  // namespace
