// ⎕WI value forms held by widgets: images as integer matrices and the text
// and selection of a multi-line edit control. GUI thread (the widgets'),
// except the image conversions, which touch only the image given.
#pragma once

class QImage;
class QPlainTextEdit;

namespace zema {

// Fills `bitmap` from an integer or boolean matrix, top row first. An
// integer matrix holding any value but 0 and 1 is a colour image (each
// element red + green × 256 + blue × 65536, one 32-bit pixel); a matrix of
// only 0 and 1, or a boolean matrix, a monochrome image (1 white, 0 black).
// 68 without a bitmap, 16 for a rank other than 2, 12 for another type.
int get_bitmap_from_apl_data(QImage* bitmap, const void* value);
// The bitmap as a height × width integer matrix of colour numbers,
// converting the bitmap itself to 32 bits a pixel. 68 without a bitmap; 4
// when rows × columns × 4 + 20 is not below `size`.
int return_apl_data_from_bitmap(void* result, QImage* bitmap, int size);

// The whole text of `memo`, or its selection, as a character vector with
// each line ending at a carriage return (internal 0x0D), other characters
// in the internal set. 4 when it does not fit below `size`; 68 without
// memory.
int qwi_edit_return_text(QPlainTextEdit* memo, void* result, int size, bool selection_only);
// Replaces the whole text, or the selection, by a character scalar, vector
// or one-row matrix (16 for more rows, 12 for anything else), each carriage
// return becoming a line break. 68 without memory.
int qwi_edit_set_text(QPlainTextEdit* memo, const void* value, bool selection_only);
// The selection as two integers: start (characters from 0) and length.
int qwi_edit_return_selection(QPlainTextEdit* memo, void* result);
// Selects from the first of two integers for the second's length (its
// sign bit cleared). The host helpers' codes for a bad list; 20 for fewer
// than two integers.
int qwi_edit_set_selection(QPlainTextEdit* memo, const void* value);

}  // namespace zema
