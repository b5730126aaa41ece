// The demo's picture server feeds a control end to end.
#if DESK_HAVE_SAMPLE_SERVER
#include "sample_server.h"

#include <gtest/gtest.h>

#include "ucMain.h"
#include "desk/imagelist.h"
#include "support/web_test.h"

namespace {

class SampleServerFill : public testenv::WebTest {};

TEST_F(SampleServerFill, EveryBundledPictureLoads) {
  desk_demo::SampleServer server;
  ASSERT_TRUE(server.Start());
  const auto urls = server.Urls();
  ASSERT_GE(urls.size(), 5u);
  auto control = desk::MakeRef<Quorvane::ucMain>();
  for (size_t i = 0; i < urls.size(); ++i) control->ListImages()->Add(u"p" + desk::DecimalText(i), desk::U16(urls[i]));
  control->Fill();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(desk::RefCast<desk::ImageList>(control->ImageListControl())->Images().Count(),
            static_cast<int32_t>(urls.size()));
  EXPECT_EQ(server.RequestCount(), static_cast<int>(urls.size()));
  server.Stop();
}

}  // namespace
#endif
