// Facades over an MRichEdit's selection: MTextAttributes for its character
// attributes, MParaAttributes for its paragraph format. Getters read the
// reference character (the selection's last character, or the caret's with an
// empty selection); setters change the selection (an empty one: the typing
// style, or the caret's paragraph). GUI thread only.
#pragma once

#include <QFont>

#include <cstdint>
#include <string>

namespace zema {

class MRichEdit;

class MTextAttributes {
 public:
  explicit MTextAttributes(MRichEdit* owner) : owner_(owner) {}
  std::int32_t Color() const;
  void SetColor(std::int32_t c);
  std::string Name() const;
  void SetName(const std::string& name);
  int Size() const;
  void SetSize(int size);
  int Style() const;  // face bits: bold 1, italic 2, underline 4, strike-out 8
  void SetStyle(int face);
  bool Protected() const { return false; }
  void SetProtected(bool) {}
  // The selection takes font's name, size and face and the colour.
  void Assign(const QFont& font, std::int32_t colour);
  // font takes the reference character's name, size and face.
  void AssignTo(QFont& font) const;

 private:
  int Ref() const;
  MRichEdit* owner_;
};

class MParaAttributes {
 public:
  explicit MParaAttributes(MRichEdit* owner) : owner_(owner) {}
  int Alignment() const;
  void SetAlignment(int v);
  int FirstIndent() const;
  void SetFirstIndent(int v);
  int LeftIndent() const;
  void SetLeftIndent(int v);
  int RightIndent() const;
  void SetRightIndent(int v);
  int Numbering() const;
  void SetNumbering(int v);
  int TabCount() const { return 0; }
  void SetTabCount(int) {}
  int Tab(int) const { return 0; }
  void SetTab(int, int) {}

 private:
  int Ref() const;
  MRichEdit* owner_;
};

}  // namespace zema
