#include "wi/vocabulary.h"

#include <algorithm>
#include <cctype>

namespace zema {

const std::vector<QwiNameRow>& qwi_class_table() {
  static const std::vector<QwiNameRow> rows = {
      {"Edit", 7}, {"Button", 3}, {"Check", 9}, {"Radio", 8}, {"Option", 8}, {"Label", 4},
      {"Static", 4}, {"Form", 0}, {"Window", 0}, {"Dialog", 1}, {"Document", 2}, {"List", 6},
      {"Icon", 5}, {"Picture", 18}, {"Timer", 15}, {"Scroll", 16}, {"Combo", 17}, {"PopUp", 17},
      {"Movie", 10}, {"Media", 10}, {"Line", 11}, {"Rectangle", 12}, {"RoundRect", 13}, {"Arc", 14},
      {"Printer", 20}, {"System", 19}, {"Menu", 21}, {"Frame", 22}, {"Imagelist", 23}, {"Page", 26},
      {"Selector", 27}, {"Progress", 28}, {"RichEdit", 29}, {"Spinner", 30}, {"Trackbar", 33},
      {"Tree", 34}, {"Bevel", 37}, {"Splitter", 38}, {"OLEContainer", 48}, {"MsgBox", 39},
      {"OpenFile", 40}, {"SaveFile", 41}, {"ChooseDir", 44}, {"ChooseFont", 45}, {"ChooseColor", 46},
      {"ChooseColour", 46}, {"Grid", 36}, {"APL", 50}, {"Chart", 51}, {"Series", 52}, {"Image", 54},
      {"Browser", 53}, {"Socket", 55}, {"Getmail", 56}, {"Sendmail", 57}, {"HTTPClient", 58},
      {"ToolButton", 60},
  };
  return rows;
}

const std::vector<QwiNameRow>& qwi_property_table() {
  static const std::vector<QwiNameRow> rows = {
      {"text", 0}, {"where", 1}, {"value", 2}, {"size", 3}, {"enabled", 5}, {"visible", 6},
      {"selection", 7}, {"caption", 8}, {"title", 8}, {"data", 9}, {"list", 11}, {"border", 12},
      {"style", 13}, {"color", 14}, {"colour", 14}, {"update", 15}, {"name", 16}, {"scale", 17},
      {"file", 18}, {"directory", 19}, {"font", 21}, {"pensize", 22}, {"pen", 22}, {"filled", 23},
      {"tie", 24}, {"group", 25}, {"limit", 26}, {"playing", 27}, {"winptr", 28}, {"hdc", 28},
      {"handle", 29}, {"movieref", 30}, {"eventmask", 31}, {"children", 32}, {"interval", 33},
      {"icon", 34}, {"picture", 35}, {"rounding", 36}, {"angle", 37}, {"class", 38}, {"page", 39},
      {"position", 40}, {"volume", 41}, {"count", 42}, {"indent", 43}, {"searchstring", 44},
      {"labeledithwnd", 45}, {"highlightbold", 46}, {"highlightcut", 47}, {"highlightdrop", 48},
      {"highlightselect", 49}, {"version", 50}, {"dragsource", 51}, {"droptarget", 52},
      {"sourceformats", 53}, {"targetformats", 54}, {"margin", 55}, {"orientation", 56},
      {"copies", 57}, {"units", 58}, {"printername", 59}, {"order", 60}, {"shortcut", 61},
      {"separator", 62}, {"seltext", 63}, {"selcolor", 64}, {"selfont", 65}, {"selstyle", 66},
      {"rtf", 67}, {"selrtf", 68}, {"selalign", 69}, {"selbullet", 70}, {"selindents", 71},
      {"seltabs", 72}, {"anchors", 73}, {"align", 74}, {"bitmap", 75}, {"bitmapsize", 76},
      {"canundo", 77}, {"pointer", 78}, {"range", 79}, {"sliderlen", 80}, {"sliderwhere", 81},
      {"tickinterval", 82}, {"tickpos", 83}, {"ticks", 84}, {"increment", 85}, {"tabgroup", 86},
      {"tabparent", 87}, {"tabrows", 88}, {"tabstop", 89}, {"default", 90}, {"filter", 91},
      {"custom", 93}, {"wrap", 94}, {"classes", 95}, {"properties", 96}, {"methods", 97},
      {"events", 98}, {"self", 99}, {"opened", 100}, {"state", 101}, {"def", 102}, {"workarea", 106},
      {"aquaadjust", 107}, {"filterindex", 92}, {"image", 103}, {"imagesize", 104}, {"origin", 105},
      {"extent", 4}, {"action", 20}, {"maxsize", 108}, {"minsize", 109}, {"xclasses", 110},
      {"papers", 111}, {"paper", 112}, {"aplkeyboard", 113}, {"autodraw", 114},
      {"doublebuffered", 115}, {"canpaste", 116}, {"oleclasses", 117}, {"oledoctypes", 118},
      {"verbs", 119}, {"autoactivate", 120}, {"docstate", 122}, {"contents", 121}, {"sizemode", 123},
      {"modified", 124}, {"progid", 125}, {"description", 126}, {"imageindex", 129},
      {"menuimagelist", 130}, {"imagelist", 131}, {"imagelistuser", 132}, {"imagealloc", 133},
      {"imagenames", 134}, {"imagecount", 135}, {"maskcolor", 136}, {"maskcolour", 136},
      {"overlays", 137}, {"linecount", 128}, {"printers", 127}, {"activecell", 138},
      {"allowselection", 139}, {"autoeditstart", 140}, {"borderstyle", 141}, {"col", 142},
      {"colortext", 144}, {"colourtext", 144}, {"colorhead", 143}, {"colourhead", 143},
      {"colorback", 145}, {"colourback", 145}, {"colsize", 146}, {"cols", 147},
      {"conversionerrorvalue", 148}, {"fontstyle", 149}, {"format", 150}, {"gridlines", 151},
      {"headcols", 152}, {"headrows", 153}, {"number", 154}, {"protect", 155}, {"row", 156},
      {"rowsize", 157}, {"rows", 158}, {"scrollmode", 159}, {"selectionmode", 160},
      {"textalign", 161}, {"valid", 162}, {"view", 163}, {"fonts", 164}, {"firstvisible", 165},
      {"wssize", 166}, {"background", 167}, {"taskid", 168}, {"status", 169}, {"unicode", 170},
      {"lineheight", 172}, {"pitch", 171}, {"type", 173}, {"monochrome", 174}, {"barwidth", 175},
      {"subtitle", 176}, {"note", 177}, {"xscale", 178}, {"yscale", 179}, {"yaltscale", 180},
      {"xmajorticks", 181}, {"xminorticks", 182}, {"ymajorticks", 183}, {"yminorticks", 184},
      {"yaltmajorticks", 185}, {"yaltminorticks", 186}, {"xintercept", 187}, {"xaltintercept", 188},
      {"yintercept", 189}, {"xlabels", 190}, {"ylabels", 191}, {"yaltlabels", 192},
      {"xaxislabel", 193}, {"yaxislabel", 194}, {"yaltaxislabel", 195}, {"colortitle", 196},
      {"colourtitle", 196}, {"colornote", 197}, {"colournote", 197}, {"coloraxis", 198},
      {"colouraxis", 198}, {"colorgrid", 199}, {"colourgrid", 199}, {"colorlegend", 200},
      {"colourlegend", 200}, {"fonttitle", 201}, {"fontnote", 202}, {"fontaxis", 203},
      {"fontlegend", 204}, {"placetitle", 205}, {"placenote", 206}, {"placelegend", 207},
      {"linewidth", 208}, {"axiswidth", 209}, {"gridwidth", 210}, {"xlogscale", 211},
      {"ylogscale", 212}, {"yaltlogscale", 213}, {"values", 214}, {"xvalues", 215}, {"yvalues", 216},
      {"highvalues", 217}, {"lowvalues", 218}, {"openvalues", 219}, {"closevalues", 220},
      {"marker", 221}, {"fillmarker", 222}, {"colormarker", 223}, {"colourmarker", 223},
      {"usealtscale", 224}, {"linetype", 225}, {"fillpattern", 226}, {"formats", 227},
      {"quality", 228}, {"host", 229}, {"user", 230}, {"password", 231}, {"timeout", 232},
      {"deleteonread", 233}, {"path", 234}, {"attachments", 235}, {"body", 236}, {"html", 237},
      {"from", 238}, {"to", 239}, {"cc", 240}, {"bcc", 241}, {"replyto", 242}, {"date", 243},
      {"header", 244}, {"id", 245}, {"subject", 246}, {"messages", 247}, {"serverreply", 248},
      {"port", 249}, {"address", 250}, {"family", 251}, {"protocol", 252}, {"proxy", 253},
      {"referrer", 254}, {"cookie", 255}, {"url", 256}, {"offline", 257}, {"textsize", 258},
      {"tooltip", 259}, {"tooltipenabled", 260}, {"pageformat", 261}, {"printsettings", 262},
      {"new", 263}, {"set", 264}, {"clear", 265}, {"click", 266}, {"close", 267}, {"copy", 268},
      {"cut", 269}, {"delete", 270}, {"focus", 271}, {"hide", 272}, {"open", 273}, {"paste", 274},
      {"paint", 275}, {"play", 276}, {"resize", 277}, {"rewind", 278}, {"send", 279}, {"show", 280},
      {"stop", 281}, {"trigger", 282}, {"wait", 283}, {"eject", 284}, {"print", 285}, {"setup", 286},
      {"job", 287}, {"find", 288}, {"preview", 289}, {"poster", 290}, {"findnode", 291},
      {"shownode", 292}, {"expand", 293}, {"sortchildren", 294}, {"getinfo", 295}, {"setinfo", 296},
      {"reset", 297}, {"abort", 315}, {"popup", 298}, {"undo", 299}, {"addimages", 300},
      {"addrows", 301}, {"arrange", 302}, {"deletenodes", 306}, {"deleterows", 307},
      {"ensurevisible", 308}, {"insertnodes", 309}, {"insertrows", 310}, {"setimages", 311},
      {"stepit", 316}, {"setpos", 317}, {"chartoline", 303}, {"linetochar", 304},
      {"linelength", 305}, {"linelen", 305}, {"pagesetup", 318}, {"create", 319}, {"draw", 320},
      {"showaboutbox", 321}, {"showproperties", 322}, {"closedocument", 323}, {"doverb", 324},
      {"valueof", 325}, {"hittest", 312}, {"beginlabeledit", 313}, {"cancellabeledit", 314},
      {"save", 326}, {"load", 327}, {"refresh", 328}, {"editstart", 331}, {"deletecols", 332},
      {"insertcols", 333}, {"interrupt", 335}, {"execute", 336}, {"signal", 337},
      {"pointtocell", 334}, {"screentoclient", 329}, {"clienttoscreen", 330}, {"charttopoint", 338},
      {"pointtochart", 339}, {"chartalttopoint", 340}, {"pointtochartalt", 341}, {"getmessage", 342},
      {"getsummary", 343}, {"sendmessage", 344}, {"deletemessage", 345}, {"listen", 346},
      {"accept", 347}, {"receive", 348}, {"get", 349}, {"post", 350}, {"head", 351},
      {"forward", 352}, {"back", 353}, {"transform", 354},
  };
  return rows;
}

const std::vector<QwiNameRow>& qwi_callback_table() {
  static const std::vector<QwiNameRow> rows = {
      {"onFocus", 7}, {"onActivate", 7}, {"onChange", 23}, {"onClick", 24}, {"onSelection", 24},
      {"onClose", 10}, {"onColMoved", 45}, {"onColSized", 46}, {"onUnFocus", 8}, {"onDeactivate", 8},
      {"onDestroy", 27}, {"onDblClick", 25}, {"onDragStart", 31}, {"onDragEnd", 32},
      {"onDragOver", 33}, {"onDragEnter", 35}, {"onDragLeave", 36}, {"onDragDrop", 34},
      {"onPaint", 9}, {"onDraw", 9}, {"onPopup", 19}, {"onDropDown", 19}, {"onError", 41},
      {"onExecute", 44}, {"onHide", 29}, {"onKeyDown", 1}, {"onKeyPress", 30}, {"onKeyUp", 2},
      {"onLimit", 22}, {"onMenu", 5}, {"onMount", 6}, {"onMouseDown", 3}, {"onMouseEnter", 16},
      {"onMouseLeave", 17}, {"onMouseMove", 15}, {"onMouseUp", 4}, {"onMove", 11}, {"onReady", 42},
      {"onSignal", 43}, {"onStop", 21}, {"onMovieEnd", 21}, {"onOpen", 26}, {"onResize", 12},
      {"onRowMoved", 47}, {"onRowSized", 48}, {"onScroll", 14}, {"onSelChange", 40}, {"onSend", 20},
      {"onShow", 28}, {"onTimer", 18}, {"onZoom", 13}, {"onAboutMenu", 37},
      {"onPreferencesMenu", 38}, {"onQuitMenu", 39}, {"onConnectRequest", 49}, {"onReceive", 50},
      {"onReadyToSend", 51}, {"onDisconnect", 52},
  };
  return rows;
}

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool equal_case_blind(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

std::string qwi_mask_name(std::string_view internal_name) {
  std::string masked(internal_name);
  for (char& c : masked) c = static_cast<char>(static_cast<unsigned char>(c) & 0x7F);
  return masked;
}

QwiProperty find_property_id(std::string_view masked_name) {
  if (!masked_name.empty() && static_cast<unsigned char>(masked_name[0]) == kQwiMaskedDelta) return kQwiDeltaProperty;
  for (const QwiNameRow& row : qwi_property_table())
    if (masked_name == row.name) return static_cast<QwiProperty>(row.id);
  return kQwiUnknownProperty;
}

int find_class_id(std::string_view lower_name, const char** row_name) {
  for (const QwiNameRow& row : qwi_class_table()) {
    if (equal_case_blind(row.name, lower_name)) {
      if (row_name) *row_name = row.name;
      return row.id;
    }
  }
  return -1;
}

int find_callback_id(std::string_view masked_name) {
  if (masked_name.substr(0, 2) != "on") return kQwiNoEvent;
  for (const QwiNameRow& row : qwi_callback_table())
    if (equal_case_blind(row.name, masked_name)) return row.id;
  return kQwiNoEvent;
}

const char* event_name(int event_id) {
  for (const QwiNameRow& row : qwi_callback_table())
    if (row.id == event_id) return row.name;
  return "";
}

const char* property_name(int id) {
  for (const QwiNameRow& row : qwi_property_table())
    if (row.id == id) return row.name;
  return nullptr;
}

void qwi_sort_names(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
      return (static_cast<unsigned char>(x) & 0x7F) < (static_cast<unsigned char>(y) & 0x7F);
    });
  });
}

}  // namespace zema
