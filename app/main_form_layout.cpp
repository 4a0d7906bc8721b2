// The main form's layout: the form's properties and its controls as stored
// with the form, applied once at construction; handlers connected by name.
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "app/main_form.h"
#include "app/offer_texts.h"
#include "framework/exception.h"

// The background picture, compiled in from app/background.jpg.
extern const unsigned char kBackgroundJpeg[];
extern const std::size_t kBackgroundJpeg_size;

namespace {
namespace layout {

enum class Class { Panel, Picture, HTMLabel, HTMLCheckBox, PushButton, Timer };

// A font of the layout; an empty name stands for the form's font.
struct Font {
  std::u16string_view Name;
  int Height = 0;
  bool Bold = false;
  bool Italic = false;
};
constexpr Font kFormFont{};

// One control of the dialog, as stored with the form. Event names a published
// handler of the form for the class's one event (OnClick, OnTimer).
struct Row {
  std::u16string_view Name;
  Class Kind;
  std::u16string_view Parent;  // empty: the form
  int Left, Top, Width, Height;
  Font ControlFont;
  std::u16string_view Text;  // caption or markup
  int TabOrder;              // -1: no tab stop
  std::u16string_view Event;
  bool State;                // check box: ticked; timer: enabled
  unsigned Interval;         // timer only, milliseconds
};

// The form itself.
constexpr std::u16string_view kCaption = u"Setup";
constexpr int kClientWidth = 442;
constexpr int kClientHeight = 397;
constexpr Font kFont{u"Tahoma", 11, false, false};
constexpr std::u16string_view kOnShow = u"FormShow";

constexpr Font kHeadlineFont{u"Tahoma", 15, false, false};
constexpr Font kLeadInFont{u"Tahoma", 12, false, false};
constexpr Font kCheckBoxFont{u"MS Sans Serif", 13, true, true};

// The controls in the order they are made; later drawn controls lie over earlier ones.
constexpr Row kRows[] = {
    // Name             Class                 Parent    Left Top  Width Height Font           Text                         Tab  Event              State  Interval
    {u"Panel1",        Class::Panel,        u"",       0,   0,   442,  397,   kFormFont,     u"",                         0,   u"",               false, 0},
    {u"Image2",        Class::Picture,      u"Panel1", 0,   0,   440,  395,   kFormFont,     u"",                         -1,  u"",               false, 0},
    {u"GoogleMsgLbl0", Class::HTMLabel,     u"Panel1", 25,  20,  450,  24,    kHeadlineFont, offer_texts::GoogleMsgLbl0,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl1", Class::HTMLabel,     u"Panel1", 107, 165, 423,  19,    kFormFont,     offer_texts::GoogleMsgLbl1,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl2", Class::HTMLabel,     u"Panel1", 107, 187, 423,  19,    kFormFont,     offer_texts::GoogleMsgLbl2,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl3", Class::HTMLabel,     u"Panel1", 107, 210, 423,  19,    kFormFont,     offer_texts::GoogleMsgLbl3,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl4", Class::HTMLabel,     u"Panel1", 43,  245, 464,  19,    kFormFont,     offer_texts::GoogleMsgLbl4,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl5", Class::HTMLabel,     u"Panel1", 43,  260, 446,  19,    kFormFont,     offer_texts::GoogleMsgLbl5,  -1,  u"",               false, 0},
    {u"GoogleDefChk",  Class::HTMLCheckBox, u"Panel1", 22,  242, 14,   20,    kCheckBoxFont, offer_texts::GoogleDefChk,   0,   u"",               true,  0},
    {u"GoogleMsgLbl6", Class::HTMLabel,     u"Panel1", 25,  295, 397,  32,    kFormFont,     offer_texts::GoogleMsgLbl6,  -1,  u"",               false, 0},
    {u"GoogleMsgLbl7", Class::HTMLabel,     u"Panel1", 25,  133, 357,  20,    kLeadInFont,   offer_texts::GoogleMsgLbl7,  -1,  u"",               false, 0},
    {u"InstallBtn",    Class::PushButton,   u"Panel1", 349, 361, 75,   25,    kFormFont,     u"Install",                  1,   u"InstallBtnClick", false, 0},
    {u"CloseTimer",    Class::Timer,        u"",       0,   0,   0,    0,     kFormFont,     u"",                         -1,  u"CloseTimerTimer", false, 100},
};

using Handler = void (TMainForm::*)(TObject*);
struct Published {
  std::u16string_view Name;
  Handler Method;
};
// The handlers the layout may connect by name.
constexpr Published kPublished[] = {
    {u"FormShow", &TMainForm::FormShow},
    {u"InstallBtnClick", &TMainForm::InstallBtnClick},
    {u"CloseTimerTimer", &TMainForm::CloseTimerTimer},
};

// The handler of the form named `name`, bound to the form; empty for no name.
TNotifyEvent Connect(TMainForm& form, std::u16string_view name) {
  if (name.empty()) return {};
  for (const Published& handler : kPublished) {
    if (handler.Name == name) return [&form, method = handler.Method](TObject* sender) { (form.*method)(sender); };
  }
  throw Exception(u"The layout names an unknown handler.");
}

TFont MakeFont(const Font& font, const TFont& formFont) {
  if (font.Name.empty()) return formFont;
  TFont made = formFont;
  made.Name = font.Name;
  made.Height = font.Height;
  made.Bold = font.Bold;
  made.Italic = font.Italic;
  return made;
}

void Place(TControl& control, const Row& row, TControl* parent) {
  control.Name = row.Name;
  control.Parent = parent;
  control.Left = row.Left;
  control.Top = row.Top;
  control.Width = row.Width;
  control.Height = row.Height;
  control.TabOrder = row.TabOrder;
}

// Makes the component of one row, owned by the form.
TComponent* Make(TMainForm& form, const Row& row, TControl* parent) {
  const TFont font = MakeFont(row.ControlFont, form.Properties().Font);
  switch (row.Kind) {
    case Class::Panel: {
      auto* panel = new TPanel(&form);
      Place(*panel, row, parent);
      return panel;
    }
    case Class::Picture: {
      auto* image = new TImage(&form);
      Place(*image, row, parent);
      image->AutoSize = true;
      image->LoadJpeg(kBackgroundJpeg, kBackgroundJpeg_size);
      return image;
    }
    case Class::HTMLabel: {
      auto* label = new THTMLabel(&form);
      Place(*label, row, parent);
      label->Font = font;
      label->Transparent = true;
      label->AutoSizing = true;
      label->SetHTMLText(row.Text);
      return label;
    }
    case Class::HTMLCheckBox: {
      auto* box = new THTMLCheckBox(&form);
      Place(*box, row, parent);
      box->Font = font;
      box->Caption = row.Text;
      box->Checked = row.State;
      box->CheckColor = clGreen;
      box->BoxStyle = TCheckBoxStyle::btClassic;
      box->Alignment = TAlignment::taLeftJustify;
      box->Transparent = true;
      box->Color = clBtnFace;
      box->ReturnIsTab = false;
      box->OnClick = Connect(form, row.Event);
      return box;
    }
    case Class::PushButton: {
      auto* button = new TButton(&form);
      Place(*button, row, parent);
      button->Caption = row.Text;
      button->Default = false;
      button->OnClick = Connect(form, row.Event);
      return button;
    }
    case Class::Timer: {
      auto* timer = new TTimer(&form);
      timer->SetInterval(row.Interval);
      timer->OnTimer = Connect(form, row.Event);
      timer->SetEnabled(row.State);
      return timer;
    }
  }
  return nullptr;
}

template <class Component>
void Bind(const std::vector<std::pair<std::u16string_view, TComponent*>>& made, std::u16string_view name,
          Component*& field) {
  for (const auto& [madeName, component] : made) {
    if (madeName == name) field = dynamic_cast<Component*>(component);
  }
}

}  // namespace layout
}  // namespace

void TMainForm::ApplyLayout() {
  FormProperties& form = Properties();
  form.Caption = layout::kCaption;
  form.ClientWidth = layout::kClientWidth;
  form.ClientHeight = layout::kClientHeight;
  form.BorderStyle = TFormBorderStyle::bsSingle;
  form.MinimizeBox = true;
  form.MaximizeBox = false;
  form.Position = TPosition::poDesktopCenter;
  form.Color = clBtnFace;
  form.Font = TFont{};
  form.Font.Name = layout::kFont.Name;
  form.Font.Height = layout::kFont.Height;
  form.Font.Color = clWindowText;
  OnShow = layout::Connect(*this, layout::kOnShow);

  std::vector<std::pair<std::u16string_view, TComponent*>> made;
  for (const layout::Row& row : layout::kRows) {
    TControl* parent = nullptr;
    for (const auto& [name, component] : made) {
      if (!row.Parent.empty() && name == row.Parent) parent = dynamic_cast<TControl*>(component);
    }
    made.emplace_back(row.Name, layout::Make(*this, row, parent));
  }
  layout::Bind(made, u"Panel1", Panel1);
  layout::Bind(made, u"Image2", Image2);
  layout::Bind(made, u"GoogleMsgLbl0", GoogleMsgLbl0);
  layout::Bind(made, u"GoogleMsgLbl1", GoogleMsgLbl1);
  layout::Bind(made, u"GoogleMsgLbl2", GoogleMsgLbl2);
  layout::Bind(made, u"GoogleMsgLbl3", GoogleMsgLbl3);
  layout::Bind(made, u"GoogleMsgLbl4", GoogleMsgLbl4);
  layout::Bind(made, u"GoogleMsgLbl5", GoogleMsgLbl5);
  layout::Bind(made, u"GoogleDefChk", GoogleDefChk);
  layout::Bind(made, u"GoogleMsgLbl6", GoogleMsgLbl6);
  layout::Bind(made, u"GoogleMsgLbl7", GoogleMsgLbl7);
  layout::Bind(made, u"InstallBtn", InstallBtn);
  layout::Bind(made, u"CloseTimer", CloseTimer);
}

