// The offer dialog's stored label and check box texts, in the labels' markup.
#pragma once

#include <string_view>

namespace offer_texts {

// Headline: "Free!" in red, then the product's name.
inline constexpr std::u16string_view GoogleMsgLbl0 =
    u"</I><span><FONT color=\"#FF0000\" >Free!</FONT></span> Google Toolbar for Internet Explorer";
// Lead-in to the feature lines, bold.
inline constexpr std::u16string_view GoogleMsgLbl7 =
    u"</b></i><b>Google Toolbar makes web browsing more convenient:</b>";
// The three feature lines.
inline constexpr std::u16string_view GoogleMsgLbl1 = u"</B></I>Search from any website";
inline constexpr std::u16string_view GoogleMsgLbl2 = u"</B></I>Translate web pages instantly";
inline constexpr std::u16string_view GoogleMsgLbl3 = u"</B></I>Share your favorite sites with friends";
// The offer line beside the check box, bold, and the line under it.
inline constexpr std::u16string_view GoogleMsgLbl4 = u"</I><b>Install the free Google Toolbar along with Norvik</b>";
inline constexpr std::u16string_view GoogleMsgLbl5 = u"</I>You can remove it easily at any time";
// The terms line with its two links to the toolbar vendor's pages.
inline constexpr std::u16string_view GoogleMsgLbl6 =
    u"</b></i>By installing this application you agree to the Google Toolbar "
    u"<a href=\"https://www.google.com/policies/terms/\">Terms and Conditions</a>"
    u" and the "
    u"<a href=\"https://www.google.com/policies/privacy/\">Privacy Policy</a>"
    u".";
// The check box's caption (the control is too narrow to show it).
inline constexpr std::u16string_view GoogleDefChk = u"</i>Make Google Chrome my default browser";

}  // namespace offer_texts
