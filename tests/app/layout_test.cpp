// The dialog's layout as the form makes it (on the headless framework), and
// the JPEG decoder on the background picture and on damaged input.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/offer_texts.h"
#include "framework/picture.h"
#include "tests/support/fake_command_line.h"
#include "tests/support/headless_app.h"

#ifndef NVK_BACKGROUND_JPG
#error "NVK_BACKGROUND_JPG names the picture asset"
#endif

namespace {

struct Expected {
  const char16_t* Name;
  int Left, Top, Width, Height;
  int TabOrder;
};

// Every control in creation order, as stored with the form.
const Expected kControls[] = {
    {u"Panel1", 0, 0, 442, 397, 0},          {u"Image2", 0, 0, 440, 395, -1},
    {u"GoogleMsgLbl0", 25, 20, 450, 24, -1}, {u"GoogleMsgLbl1", 107, 165, 423, 19, -1},
    {u"GoogleMsgLbl2", 107, 187, 423, 19, -1}, {u"GoogleMsgLbl3", 107, 210, 423, 19, -1},
    {u"GoogleMsgLbl4", 43, 245, 464, 19, -1}, {u"GoogleMsgLbl5", 43, 260, 446, 19, -1},
    {u"GoogleDefChk", 22, 242, 14, 20, 0},    {u"GoogleMsgLbl6", 25, 295, 397, 32, -1},
    {u"GoogleMsgLbl7", 25, 133, 357, 20, -1}, {u"InstallBtn", 349, 361, 75, 25, 1},
};

class LayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { mForm = new TMainForm(nullptr); }
  void TearDown() override { delete mForm; }

  HeadlessBackendInPlace mHeadless;
  framework::HeadlessBackend* mBackend = &mHeadless.Backend;
  TMainForm* mForm = nullptr;
  FakeCommandLine mLine{"ToolbarSetup"};
};

TEST_F(LayoutTest, FormPropertiesAndHandlers) {
  const FormProperties& p = mForm->Properties();
  EXPECT_EQ(p.Caption, u"Setup");
  EXPECT_EQ(p.ClientWidth, 442);
  EXPECT_EQ(p.ClientHeight, 397);
  EXPECT_EQ(p.BorderStyle, TFormBorderStyle::bsSingle);
  EXPECT_TRUE(p.MinimizeBox);
  EXPECT_FALSE(p.MaximizeBox);
  EXPECT_EQ(p.Position, TPosition::poDesktopCenter);
  EXPECT_EQ(p.Color, clBtnFace);
  EXPECT_EQ(p.Font, (TFont{u"Tahoma", 11, false, false, clWindowText}));
  EXPECT_TRUE(static_cast<bool>(mForm->OnShow));
  ASSERT_NE(mForm->CloseTimer, nullptr);
  EXPECT_FALSE(mForm->CloseTimer->Enabled()) << "made disabled, against a new timer's default";
  EXPECT_EQ(mForm->CloseTimer->Interval(), 100u);
  EXPECT_TRUE(static_cast<bool>(mForm->CloseTimer->OnTimer));
  ASSERT_NE(mForm->InstallBtn, nullptr);
  EXPECT_EQ(mForm->InstallBtn->Caption, u"Install");
  EXPECT_FALSE(mForm->InstallBtn->Default);
  EXPECT_TRUE(static_cast<bool>(mForm->InstallBtn->OnClick));
}

TEST_F(LayoutTest, ControlsInOrderWithTheirPlaces) {
  std::vector<TControl*> controls;
  for (TComponent* component : mForm->Components()) {
    if (auto* control = dynamic_cast<TControl*>(component)) controls.push_back(control);
  }
  ASSERT_EQ(controls.size(), std::size(kControls));
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const Expected& e = kControls[i];
    const TControl& c = *controls[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(c.Name, e.Name);
    EXPECT_EQ((std::vector<int>{c.Left, c.Top, c.Width, c.Height, c.TabOrder}),
              (std::vector<int>{e.Left, e.Top, e.Width, e.Height, e.TabOrder}));
    EXPECT_EQ(c.Parent, i == 0 ? nullptr : static_cast<TControl*>(mForm->Panel1));
  }
  // Every field of the form points at the control of its name.
  const TControl* fields[] = {mForm->Panel1,        mForm->Image2,        mForm->GoogleMsgLbl0, mForm->GoogleMsgLbl1,
                              mForm->GoogleMsgLbl2, mForm->GoogleMsgLbl3, mForm->GoogleMsgLbl4, mForm->GoogleMsgLbl5,
                              mForm->GoogleDefChk,  mForm->GoogleMsgLbl6, mForm->GoogleMsgLbl7, mForm->InstallBtn};
  ASSERT_EQ(std::size(fields), controls.size());
  for (std::size_t i = 0; i < controls.size(); ++i) EXPECT_EQ(fields[i], controls[i]) << i;
}

TEST_F(LayoutTest, TextsFontsAndCheckBox) {
  const struct {
    THTMLabel* Label;
    std::u16string_view Markup;
    TFont Font;
  } labels[] = {
      {mForm->GoogleMsgLbl0, offer_texts::GoogleMsgLbl0, {u"Tahoma", 15, false, false, clWindowText}},
      {mForm->GoogleMsgLbl1, offer_texts::GoogleMsgLbl1, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl2, offer_texts::GoogleMsgLbl2, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl3, offer_texts::GoogleMsgLbl3, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl4, offer_texts::GoogleMsgLbl4, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl5, offer_texts::GoogleMsgLbl5, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl6, offer_texts::GoogleMsgLbl6, {u"Tahoma", 11, false, false, clWindowText}},
      {mForm->GoogleMsgLbl7, offer_texts::GoogleMsgLbl7, {u"Tahoma", 12, false, false, clWindowText}},
  };
  for (const auto& expected : labels) {
    ASSERT_NE(expected.Label, nullptr);
    SCOPED_TRACE(std::string(expected.Label->Name.begin(), expected.Label->Name.end()));
    EXPECT_EQ(expected.Label->HTMLText(), expected.Markup);
    EXPECT_EQ(expected.Label->Font, expected.Font);
    EXPECT_TRUE(expected.Label->AutoSizing);
    EXPECT_TRUE(expected.Label->Transparent);
  }
  const THTMLCheckBox& box = *mForm->GoogleDefChk;
  EXPECT_EQ(box.Caption, offer_texts::GoogleDefChk);
  EXPECT_TRUE(box.Checked);
  EXPECT_EQ(box.CheckColor, clGreen);
  EXPECT_EQ(box.Font, (TFont{u"MS Sans Serif", 13, true, true, clWindowText}));
  EXPECT_FALSE(box.ReturnIsTab);
  // The links' targets: the vendor's terms and privacy pages.
  const auto& targets = mForm->GoogleMsgLbl6->Text().Text().LinkTargets;
  ASSERT_EQ(targets.size(), 2u);
  EXPECT_TRUE(targets[0].ends_with(u"/policies/terms/"));
  EXPECT_TRUE(targets[1].ends_with(u"/policies/privacy/"));
}

TEST_F(LayoutTest, PictureDecodedAndSizedToIt) {
  const TImage& image = *mForm->Image2;
  ASSERT_EQ(image.Picture.Width, 440);
  ASSERT_EQ(image.Picture.Height, 395);
  EXPECT_EQ(image.Width, 440);
  EXPECT_EQ(image.Height, 395);
}

TEST_F(LayoutTest, WindowGetsEveryControlInOrder) {
  mForm->SetVisible(true);
  ASSERT_EQ(mBackend->Windows().size(), 1u);
  const auto& made = mBackend->Windows()[0].Controls;
  ASSERT_EQ(made.size(), std::size(kControls));
  for (std::size_t i = 0; i < made.size(); ++i) EXPECT_EQ(made[i]->Name, kControls[i].Name);
  mForm->SetVisible(false);
}

std::vector<unsigned char> ReadAsset() {
  std::ifstream file(NVK_BACKGROUND_JPG, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(file), {});
}

bool Near(std::uint32_t rgb, int r, int g, int b, int slack) {
  return std::abs(static_cast<int>(rgb >> 16 & 0xFF) - r) <= slack &&
         std::abs(static_cast<int>(rgb >> 8 & 0xFF) - g) <= slack && std::abs(static_cast<int>(rgb & 0xFF) - b) <= slack;
}

TEST(JpegDecoder, BackgroundPicture) {
  const std::vector<unsigned char> bytes = ReadAsset();
  ASSERT_FALSE(bytes.empty());
  TBitmap picture;
  ASSERT_TRUE(DecodeJpeg(bytes.data(), bytes.size(), picture));
  EXPECT_EQ(picture.Width, 440);
  EXPECT_EQ(picture.Height, 395);
  EXPECT_TRUE(Near(picture.Pixel(5, 5), 255, 255, 255, 8)) << std::hex << picture.Pixel(5, 5);
  EXPECT_TRUE(Near(picture.Pixel(435, 390), 255, 255, 255, 8));
  int green = 0;
  for (int y = 20; y < 40; ++y) {
    for (int x = 330; x < 415; ++x) {
      const std::uint32_t p = picture.Pixel(x, y);
      if ((p >> 8 & 0xFF) > 90 && (p >> 16 & 0xFF) < 90 && (p & 0xFF) < 90) ++green;
    }
  }
  EXPECT_GT(green, 40);
}

TEST(JpegDecoder, DamagedInputFailsCleanly) {
  const std::vector<unsigned char> bytes = ReadAsset();
  ASSERT_GT(bytes.size(), 1000u);
  std::vector<std::vector<unsigned char>> inputs = {
      {},
      {0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF, 0xD9},
      std::vector<unsigned char>(4096, 0x00),
      std::vector<unsigned char>(bytes.begin(), bytes.begin() + 20),
  };
  // The header with a width of zero and one far too large.
  for (std::uint16_t side : {std::uint16_t{0}, std::uint16_t{65000}}) {
    std::vector<unsigned char> changed = bytes;
    for (std::size_t i = 0; i + 8 < changed.size(); ++i) {
      if (changed[i] == 0xFF && (changed[i + 1] == 0xC0 || changed[i + 1] == 0xC2)) {
        changed[i + 7] = static_cast<unsigned char>(side >> 8);
        changed[i + 8] = static_cast<unsigned char>(side);
        break;
      }
    }
    inputs.push_back(changed);
  }
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.size());
    TBitmap picture;
    picture.Width = 7;
    EXPECT_FALSE(DecodeJpeg(input.data(), input.size(), picture));
    EXPECT_TRUE(picture.Empty());
    EXPECT_TRUE(picture.Rgb.empty());
  }
  // A picture cut anywhere decodes or fails, and never takes the process down.
  for (std::size_t length = 0; length < bytes.size(); length += 97) {
    TBitmap picture;
    if (DecodeJpeg(bytes.data(), length, picture)) {
      EXPECT_EQ(picture.Width, 440);
    } else {
      EXPECT_TRUE(picture.Empty());
    }
  }
}

TEST(ImageControl, UndecodablePictureKeepsItsStoredSize) {
  TImage image(nullptr);
  image.Width = 440;
  image.Height = 395;
  const unsigned char junk[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00};
  EXPECT_FALSE(image.LoadJpeg(junk, sizeof junk));
  EXPECT_EQ(image.Width, 440);
  EXPECT_EQ(image.Height, 395);
  EXPECT_TRUE(image.Picture.Empty());
}

}  // namespace
