// The GPU device's contract: the same cases on the fake and on the EGL
// backend over Mesa's software OpenGL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/gpu.h"
#include "tests/support/gpu_test_device.h"

namespace {

class GpuContract : public ::testing::TestWithParam<const PlatformGpu*> {
 protected:
  void SetUp() override {
    g = GetParam();
    if (g == &kFakeGpu) fake_gpu_reset();
    if (open_test_gpu(g, 64, 32) != 0) {
      if (gpu_required()) FAIL() << "no GPU device opened";
      GTEST_SKIP() << "no GPU device";
    }
  }
  void TearDown() override {
    if (g) g->close_device();
  }
  const PlatformGpu* g = nullptr;
};

TEST_P(GpuContract, OpensOnceWithSaneLimitsAndTheEffect) {
  EXPECT_EQ(g->is_open(), 1);
  EXPECT_EQ(g->open_device(gpu::kAttemptSoftware, 64, 32), -1) << "a second open while one is open";
  GpuCaps caps;
  ASSERT_EQ(g->get_caps(&caps), 0);
  EXPECT_GE(caps.max_texture_width, 2048);
  EXPECT_GE(caps.shader_level, 20);
  EXPECT_EQ(g->device_status(), 0);
  EXPECT_EQ(g->compile_effect(), 0);
  EXPECT_EQ(g->find_technique("ZT_ShaderTest1"), 0);
  EXPECT_EQ(g->find_technique("Other"), -1);
  EXPECT_EQ(g->set_technique("ZT_ShaderTest1"), 0);
  const std::string renderer = g->renderer_name();
  EXPECT_FALSE(renderer.empty());
  EXPECT_EQ(renderer, g->renderer_name());
  g->close_device();
  EXPECT_STREQ(g->renderer_name(), "");
  EXPECT_EQ(g->is_open(), 0);
  EXPECT_EQ(g->device_status(), -1);
  EXPECT_EQ(g->get_caps(&caps), -1);
  EXPECT_EQ(g->create_texture(4, 4, 32), nullptr);
}

TEST_P(GpuContract, ClearAndReadBackTopRowFirst) {
  ASSERT_EQ(g->set_target(nullptr), 0);
  ASSERT_EQ(g->clear(0x80402010u), 0);
  std::vector<std::uint32_t> px(64 * 32, 0);
  ASSERT_EQ(g->read_back(nullptr, px.data(), 64, 32), 0);
  for (std::uint32_t p : px) ASSERT_EQ(p, 0x80402010u);
  EXPECT_EQ(g->read_back(nullptr, px.data(), 65, 32), -1) << "wider than the back buffer";
  EXPECT_EQ(g->read_back(nullptr, nullptr, 4, 4), -1);
}

TEST_P(GpuContract, TexturesUploadAndReadBackExactly) {
  EXPECT_EQ(g->create_texture(0, 4, 32), nullptr);
  EXPECT_EQ(g->create_texture(1 << 20, 4, 32), nullptr) << "above the maximum";
  GpuTexture t = g->create_texture(5, 3, 32);
  ASSERT_NE(t, nullptr);
  std::vector<std::uint32_t> src(15);
  for (int i = 0; i < 15; ++i) src[i] = 0x01020304u * static_cast<std::uint32_t>(i + 1) ^ 0xA5000000u;
  ASSERT_EQ(g->upload_texture(t, src.data(), 5, 3, 0), 0);
  EXPECT_EQ(g->upload_texture(t, src.data(), 3, 5, 0), -1) << "another size";
  std::vector<std::uint32_t> out(15, 0);
  ASSERT_EQ(g->read_back(t, out.data(), 5, 3), 0);
  EXPECT_EQ(out, src);
  // A texture is a target too.
  ASSERT_EQ(g->set_target(t), 0);
  ASSERT_EQ(g->clear(0xFF00FF00u), 0);
  ASSERT_EQ(g->read_back(t, out.data(), 5, 3), 0);
  for (std::uint32_t p : out) EXPECT_EQ(p, 0xFF00FF00u);
  g->release_texture(t);
  EXPECT_EQ(g->set_target(t), -1) << "a released texture";
  EXPECT_EQ(g->set_target(nullptr), 0);
}

TEST_P(GpuContract, SixteenBitTexturesKeepFourBitsAChannel) {
  GpuTexture t = g->create_texture(2, 1, 16);
  ASSERT_NE(t, nullptr);
  const std::uint32_t src[2] = {0xFFFFFFFFu, 0xF0F0F0F0u};
  ASSERT_EQ(g->upload_texture(t, src, 2, 1, 0), 0);
  std::uint32_t out[2] = {};
  ASSERT_EQ(g->read_back(t, out, 2, 1), 0);
  EXPECT_EQ(out[0], 0xFFFFFFFFu);
  EXPECT_EQ(out[1], 0xEEEEEEEEu) << "0xF0 is nearest to 14 of 15";
  g->release_texture(t);
}

TEST_P(GpuContract, LossIsReportedAndClosingAfterItIsClean) {
  GpuTexture t = g->create_texture(4, 4, 32);
  ASSERT_NE(t, nullptr);
  g->lose_device();
  EXPECT_EQ(g->device_status(), 1);
  EXPECT_EQ(g->clear(0), -1);
  g->release_texture(t);
  g->close_device();
  EXPECT_EQ(g->device_status(), -1);
  ASSERT_EQ(open_test_gpu(g, 8, 8), 0) << "a new device after a loss";
  EXPECT_EQ(g->device_status(), 0);
}

INSTANTIATE_TEST_SUITE_P(Backends, GpuContract, ::testing::Values(&kFakeGpu, &kEglGpu),
                         [](const ::testing::TestParamInfo<const PlatformGpu*>& p) { return p.param == &kFakeGpu ? "fake" : "egl"; });

}  // namespace
