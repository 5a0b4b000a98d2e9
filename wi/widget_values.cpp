#include "wi/widget_values.h"

#include <QImage>
#include <QPlainTextEdit>
#include <QTextCursor>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "host/charset.h"
#include "host/values.h"
#include "wi/value_forms.h"

namespace zema {

namespace {

constexpr std::uint8_t kBool = 5, kInt = 7;

std::uint32_t word_at(const void* p, std::size_t off) {
  std::uint32_t w;
  std::memcpy(&w, static_cast<const std::uint8_t*>(p) + off, 4);
  return w;
}

}  // namespace

int get_bitmap_from_apl_data(QImage* bitmap, const void* value) {
  if (!bitmap) return 68;
  if (qwi_rank(value) != 2) return 16;
  const std::uint8_t type = static_cast<const std::uint8_t*>(value)[8];
  if (type != kBool && type != kInt) return 12;
  const int rows = static_cast<int>(word_at(value, 12)), cols = static_cast<int>(word_at(value, 16));
  const auto* data = static_cast<const std::uint8_t*>(value) + 20;
  const std::size_t n = std::size_t(rows) * std::size_t(cols);
  auto element = [&](std::size_t i) -> std::int32_t {
    if (type == kBool) return (word_at(data, 4 * (i / 32)) >> (31 - i % 32)) & 1u;
    return static_cast<std::int32_t>(word_at(data, 4 * i));
  };
  bool monochrome = true;
  for (std::size_t i = 0; i < n && monochrome; ++i) monochrome = element(i) == 0 || element(i) == 1;
  try {
    if (monochrome) {
      QImage grey(cols, rows, QImage::Format_Grayscale8);
      if (n && grey.isNull()) return 68;
      for (int r = 0; r < rows; ++r) {
        std::uint8_t* line = grey.scanLine(r);
        for (int c = 0; c < cols; ++c) line[c] = element(std::size_t(r) * cols + c) ? 255 : 0;
      }
      *bitmap = grey.convertToFormat(QImage::Format_Mono);
    } else {
      QImage colour(cols, rows, QImage::Format_RGB32);
      if (n && colour.isNull()) return 68;
      for (int r = 0; r < rows; ++r) {
        auto* line = reinterpret_cast<QRgb*>(colour.scanLine(r));
        for (int c = 0; c < cols; ++c) {
          const std::uint32_t e = static_cast<std::uint32_t>(element(std::size_t(r) * cols + c));
          line[c] = qRgb(e & 0xFF, (e >> 8) & 0xFF, (e >> 16) & 0xFF);
        }
      }
      *bitmap = colour;
    }
  } catch (const std::bad_alloc&) {
    return 68;
  }
  return 0;
}

int return_apl_data_from_bitmap(void* result, QImage* bitmap, int size) {
  if (!bitmap) return 68;
  const int rows = bitmap->height(), cols = bitmap->width();
  if (std::int64_t(rows) * cols * 4 + 20 >= size) return 4;
  try {
    *bitmap = bitmap->convertToFormat(QImage::Format_RGB32);
    std::vector<std::int32_t> items(std::size_t(rows) * std::size_t(cols));
    for (int r = 0; r < rows; ++r) {
      const auto* line = reinterpret_cast<const QRgb*>(bitmap->constScanLine(r));
      for (int c = 0; c < cols; ++c)
        items[std::size_t(r) * cols + c] = qRed(line[c]) + qGreen(line[c]) * 256 + qBlue(line[c]) * 65536;
    }
    return qwi_return_integer_matrix(result, size + 1, rows, cols, items.data());
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int qwi_edit_return_text(QPlainTextEdit* memo, void* result, int size, bool selection_only) {
  try {
    QString text = selection_only ? memo->textCursor().selectedText() : memo->toPlainText();
    std::string internal;
    internal.reserve(std::size_t(text.size()));
    for (QChar ch : text) {
      const char16_t u = ch.unicode();
      if (u == u'\n' || u == 0x2029) internal += '\r';  // a line break (a selection's paragraph separator)
      else internal += static_cast<char>(fontin(u < 256 ? u : '?'));
    }
    return qwi_return_text(result, size, internal);
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int qwi_edit_set_text(QPlainTextEdit* memo, const void* value, bool selection_only) {
  if (!qwi_is_character(value)) return 12;
  const int rank = qwi_rank(value);
  if (rank > 2 || (rank == 2 && word_at(value, 12) != 1)) return 16;
  try {
    const auto* d = static_cast<const std::uint8_t*>(value) + 12 + 4 * rank;
    const std::uint32_t n = qwi_item_count(value);
    QString text;
    text.reserve(qsizetype(n));
    for (std::uint32_t i = 0; i < n; ++i)
      text += d[i] == 0x0D ? QChar(u'\n') : QChar(static_cast<char16_t>(fontout(d[i])));
    if (selection_only) memo->textCursor().insertText(text);
    else memo->setPlainText(text);
    return 0;
  } catch (const std::bad_alloc&) {
    return 68;
  }
}

int qwi_edit_return_selection(QPlainTextEdit* memo, void* result) {
  const QTextCursor c = memo->textCursor();
  return return_integer_pair(result, c.selectionStart(), c.selectionEnd() - c.selectionStart());
}

int qwi_edit_set_selection(QPlainTextEdit* memo, const void* value) {
  std::int32_t v[2];
  int count = 0;
  if (const int rc = get_n_integers(value, v, 2, &count)) return rc;
  if (count < 2) return 20;
  const int length = v[1] & 0x7FFFFFFF;
  QTextCursor c = memo->textCursor();
  const int end = static_cast<int>(memo->document()->characterCount()) - 1;
  const int start = std::clamp(v[0], 0, end);
  c.setPosition(start);
  c.setPosition(std::clamp(start + length, start, end), QTextCursor::KeepAnchor);
  memo->setTextCursor(c);
  return 0;
}

}  // namespace zema
