#pragma once
// The one order of character values: index tags, comparisons, sorts, MAX,
// MIN and DISTINCT all use it, with or without a tag.
//
// Every character has a place of its own; texts compare character by
// character on those places, and a text that is the start of another sorts
// first.  The places, lowest first:
//   - the blank, below everything (a value padded with blanks to a field's
//     width sorts as the value itself);
//   - every other character that is neither a letter nor a digit
//     (controls, punctuation, symbols, the apostrophe "’", "€", box
//     drawing...), in the order of their Unicode code points;
//   - the digits 0 to 9;
//   - the letters: A to Z, each letter followed by its small form, then by
//     its accented forms and ligatures, each capital before its small form:
//       A a À à Á á Â â Ã ã Ä ä Å å Æ æ  B b  C c Ç ç  D d Ð ð
//       E e È è É é Ê ê Ë ë  F f ƒ  ...  I i Ì ì Í í Î î Ï ï ı  ...
//       N n Ñ ñ  O o Ò ò Ó ó Ô ô Õ õ Ö ö Ø ø Œ œ  ...  S s Š š ß
//       T t Þ þ  U u Ù ù Ú ú Û û Ü ü  ...  Y y Ý ý Ÿ ÿ  Z z Ž ž
//     Letters of other alphabets (the Greek of code page 437) count as
//     symbols.
// So accented capitals sort with their letter ("ÉMILE" after "EVA" and
// before "FABIEN", "ŒUVRE" before "PAUL", "ŠKODA" before "TANIA"), and
// distinct texts never compare equal.  The first differing character
// decides: "DUPONT" < "DUPONTEL" < "Dupont" < "DÛPONT" < "dupont".
//
// The order is defined on characters, so bytes of any code page sort as
// the characters they stand for: a tag's keys (the field's bytes) walk in
// the order an ORDER BY of the decoded values gives.  Because the order is
// character by character, all texts that start with the same characters
// sit together: a seek on the start of a key and a LIKE 'ABC%' read one
// range of a tag.
#include <array>
#include <cstdint>
#include <string_view>

#include <QStringView>

namespace kdb {

// The place of one UTF-16 unit (distinct units, distinct places).
uint32_t collationWeight(char16_t unit);

// Three-way order of two texts (negative, zero, positive).
int compareCollated(QStringView a, QStringView b);

// The order on the bytes of one code page.
class Collation {
public:
    // The collation of a code page (437, 850, 1252; any other as 1252).
    static const Collation& forCodePage(int codePage);

    int codePage() const { return codePage_; }
    uint32_t weight(unsigned char byte) const { return weight_[byte]; }
    // Three-way order of two byte strings.
    int compare(std::string_view a, std::string_view b) const;

private:
    explicit Collation(int codePage);
    int codePage_;
    std::array<uint32_t, 256> weight_{};
};

}  // namespace kdb
