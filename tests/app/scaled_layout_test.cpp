// The dialog laid out at other display densities (on the headless framework,
// whose display dpi the test sets): the form, every control, the fonts and
// the picture scaled from their 96-dpi places, and back again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/main_form.h"
#include "framework/headless/headless_backend.h"
#include "tests/support/fake_command_line.h"
#include "tests/support/headless_app.h"

namespace {

struct Place {
  const char16_t* Name;
  int Left, Top, Width, Height;
};

// Every control at 96 dpi, as stored with the form.
const std::vector<Place> kAt96 = {
    {u"Panel1", 0, 0, 442, 397},          {u"Image2", 0, 0, 440, 395},         {u"GoogleMsgLbl0", 25, 20, 450, 24},
    {u"GoogleMsgLbl1", 107, 165, 423, 19}, {u"GoogleMsgLbl2", 107, 187, 423, 19}, {u"GoogleMsgLbl3", 107, 210, 423, 19},
    {u"GoogleMsgLbl4", 43, 245, 464, 19},  {u"GoogleMsgLbl5", 43, 260, 446, 19},  {u"GoogleDefChk", 22, 242, 14, 20},
    {u"GoogleMsgLbl6", 25, 295, 397, 32},  {u"GoogleMsgLbl7", 25, 133, 357, 20},  {u"InstallBtn", 349, 361, 75, 25},
};
// At 144 dpi: each value times 1.5, halves rounded up.
const std::vector<Place> kAt144 = {
    {u"Panel1", 0, 0, 663, 596},          {u"Image2", 0, 0, 660, 593},         {u"GoogleMsgLbl0", 38, 30, 675, 36},
    {u"GoogleMsgLbl1", 161, 248, 635, 29}, {u"GoogleMsgLbl2", 161, 281, 635, 29}, {u"GoogleMsgLbl3", 161, 315, 635, 29},
    {u"GoogleMsgLbl4", 65, 368, 696, 29},  {u"GoogleMsgLbl5", 65, 390, 669, 29},  {u"GoogleDefChk", 33, 363, 21, 30},
    {u"GoogleMsgLbl6", 38, 443, 596, 48},  {u"GoogleMsgLbl7", 38, 200, 536, 30},  {u"InstallBtn", 524, 542, 113, 38},
};
// At 192 dpi: each value doubled.
const std::vector<Place> kAt192 = {
    {u"Panel1", 0, 0, 884, 794},          {u"Image2", 0, 0, 880, 790},         {u"GoogleMsgLbl0", 50, 40, 900, 48},
    {u"GoogleMsgLbl1", 214, 330, 846, 38}, {u"GoogleMsgLbl2", 214, 374, 846, 38}, {u"GoogleMsgLbl3", 214, 420, 846, 38},
    {u"GoogleMsgLbl4", 86, 490, 928, 38},  {u"GoogleMsgLbl5", 86, 520, 892, 38},  {u"GoogleDefChk", 44, 484, 28, 40},
    {u"GoogleMsgLbl6", 50, 590, 794, 64},  {u"GoogleMsgLbl7", 50, 266, 714, 40},  {u"InstallBtn", 698, 722, 150, 50},
};

struct Density {
  int Dpi;
  int ClientWidth, ClientHeight;
  int FormFont, Headline, LeadIn, CheckBoxFont;
  const std::vector<Place>* Places;
};

const Density kDensities[] = {
    {96, 442, 397, 11, 15, 12, 13, &kAt96},
    {144, 663, 596, 17, 23, 18, 20, &kAt144},
    {192, 884, 794, 22, 30, 24, 26, &kAt192},
};

class ScaledLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override { mForm = new TMainForm(nullptr); }
  void TearDown() override { delete mForm; }

  std::vector<TControl*> Controls() const {
    std::vector<TControl*> controls;
    for (TComponent* component : mForm->Components()) {
      if (auto* control = dynamic_cast<TControl*>(component)) controls.push_back(control);
    }
    return controls;
  }

  // Every part of the form as laid out for the density.
  void ExpectLaidOutFor(const Density& d) {
    SCOPED_TRACE(d.Dpi);
    EXPECT_EQ(mForm->Dpi(), d.Dpi);
    EXPECT_EQ(mForm->Properties().ClientWidth, d.ClientWidth);
    EXPECT_EQ(mForm->Properties().ClientHeight, d.ClientHeight);
    EXPECT_EQ(mForm->Properties().Font.Height, d.FormFont);
    const std::vector<TControl*> controls = Controls();
    ASSERT_EQ(controls.size(), d.Places->size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
      const Place& e = (*d.Places)[i];
      const TControl& c = *controls[i];
      SCOPED_TRACE(std::string(c.Name.begin(), c.Name.end()));
      EXPECT_EQ(c.Name, e.Name);
      EXPECT_EQ((std::vector<int>{c.Left, c.Top, c.Width, c.Height}),
                (std::vector<int>{e.Left, e.Top, e.Width, e.Height}));
      EXPECT_EQ(c.Dpi(), d.Dpi);
    }
    EXPECT_EQ(mForm->GoogleMsgLbl0->Font.Height, d.Headline);
    EXPECT_EQ(mForm->GoogleMsgLbl7->Font.Height, d.LeadIn);
    for (const THTMLabel* label : {mForm->GoogleMsgLbl1, mForm->GoogleMsgLbl2, mForm->GoogleMsgLbl3,
                                   mForm->GoogleMsgLbl4, mForm->GoogleMsgLbl5, mForm->GoogleMsgLbl6}) {
      EXPECT_EQ(label->Font.Height, d.FormFont);
    }
    EXPECT_EQ(mForm->GoogleDefChk->Font.Height, d.CheckBoxFont);
    // The picture is decoded at the scaled size, and the control takes it.
    EXPECT_EQ(mForm->Image2->Picture.Width, (*d.Places)[1].Width);
    EXPECT_EQ(mForm->Image2->Picture.Height, (*d.Places)[1].Height);
  }

  HeadlessBackendInPlace mHeadless;
  framework::HeadlessBackend* mBackend = &mHeadless.Backend;
  TMainForm* mForm = nullptr;
  FakeCommandLine mLine{"ToolbarSetup"};
};

// The form asks the backend for the display's dpi when it first opens and
// makes its window at the scaled size.
TEST_F(ScaledLayoutTest, OpensLaidOutForTheDisplaysDpi) {
  TearDown();
  for (const Density& d : kDensities) {
    HeadlessBackendInPlace fresh;  // a fresh form and backend for each density
    mBackend = &fresh.Backend;
    SetUp();
    mBackend->SetDisplayDpi(d.Dpi);
    mForm->SetVisible(true);
    ExpectLaidOutFor(d);
    ASSERT_EQ(mBackend->Windows().size(), 1u);
    EXPECT_EQ(mBackend->Windows()[0].Properties.ClientWidth, d.ClientWidth);
    EXPECT_EQ(mBackend->Windows()[0].Properties.ClientHeight, d.ClientHeight);
    mForm->SetVisible(false);
    TearDown();
    mForm = nullptr;
  }
  mBackend = &mHeadless.Backend;
}

// A backend that tells no dpi leaves the dialog exactly as stored.
TEST_F(ScaledLayoutTest, NoDpiToldMeans96) {
  mBackend->SetDisplayDpi(0);
  mForm->SetVisible(true);
  ExpectLaidOutFor(kDensities[0]);
  mForm->SetVisible(false);
}

// Scaling again starts from the stored places, whatever the dpi was before.
TEST_F(ScaledLayoutTest, ScalingAgainStartsFromTheStoredLayout) {
  mBackend->SetDisplayDpi(144);
  mForm->SetVisible(true);
  mForm->ScaleTo(192);
  ExpectLaidOutFor(kDensities[2]);
  mForm->ScaleTo(144);
  ExpectLaidOutFor(kDensities[1]);
  mForm->ScaleTo(96);
  ExpectLaidOutFor(kDensities[0]);
  mForm->SetVisible(false);
}

// The picture at 96 dpi after a round trip is the one decoded at first.
TEST_F(ScaledLayoutTest, PictureBackAt96IsTheOriginal) {
  const TBitmap original = mForm->Image2->Picture;
  mForm->ScaleTo(144);
  EXPECT_NE(mForm->Image2->Picture.Rgb.size(), original.Rgb.size());
  mForm->ScaleTo(96);
  EXPECT_EQ(mForm->Image2->Picture.Rgb, original.Rgb);
}

}  // namespace
