#include "dbf/query.h"

#include "base/errors.h"
#include "dbf/dbf_errors.h"

namespace ledra::dbf {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

bool IsColumnChar(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

// Table names become file names: no separators, wildcards, quotes or dots,
// so a query can only ever reach a .dbf file directly in the folder.
bool IsTableChar(char16_t c) {
  if (IsColumnChar(c) || c >= 0x80) return c != 0xFFFD;
  switch (c) {
    case u'$': case u'#': case u'@': case u'-': case u'~': case u'!': case u'&': case u'+':
      return true;
    default:
      return false;
  }
}

char16_t Fold(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

class Parser {
 public:
  explicit Parser(const Text& sql) : s_(sql) {}

  Query Run() {
    Query q;
    SkipBlanks();
    Keyword(u"SELECT");
    SkipBlanks();
    if (!Take(u'*')) Fail(u"only \"select *\" is supported");
    SkipBlanks();
    Keyword(u"FROM");
    if (SkipBlanks() == 0) Fail(u"a table name must follow FROM");
    q.table = Token(IsTableChar);
    if (q.table.empty()) Fail(u"a table name must follow FROM");
    size_t blanks = SkipBlanks();
    if (AtEnd()) return q;
    if (blanks == 0) Fail(u"unexpected character in the table name");
    Keyword(u"WHERE");
    if (SkipBlanks() == 0) Fail(u"a column name must follow WHERE");
    q.column = Token(IsColumnChar);
    if (q.column.empty()) Fail(u"a column name must follow WHERE");
    SkipBlanks();
    if (Take(u'>')) {
      if (!Take(u'=')) Fail(u"only the operators = and >= are supported");
      q.op = Query::Op::AtLeast;
    } else if (Take(u'=')) {
      q.op = Query::Op::Equal;
    } else {
      Fail(u"only the operators = and >= are supported");
    }
    SkipBlanks();
    if (!Take(u'\'')) Fail(u"the value must be a text in single quotes");
    size_t close = s_.find(u'\'', i_);
    if (close == Text::npos) Fail(u"the value's closing quote is missing");
    q.value = s_.substr(i_, close - i_);
    i_ = close + 1;
    SkipBlanks();
    if (!AtEnd()) {
      if (s_.find(u'\'', i_) != Text::npos) {
        Fail(u"a quote inside the value, or a further condition after it, is not supported");
      }
      Fail(u"unexpected text after the value");
    }
    return q;
  }

 private:
  [[noreturn]] void Fail(const Text& why) {
    Raise(kDbfSqlError, u"Unsupported SQL statement (" + why +
                            u"); expected select * from TABLE [where COLUMN = 'value' | where COLUMN >= 'value']: " +
                            s_);
  }
  bool AtEnd() const { return i_ >= s_.size(); }
  size_t SkipBlanks() {
    size_t start = i_;
    while (i_ < s_.size() && IsBlank(s_[i_])) ++i_;
    return i_ - start;
  }
  bool Take(char16_t c) {
    if (i_ < s_.size() && s_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  void Keyword(const char16_t* word) {
    size_t k = 0;
    while (word[k] && i_ + k < s_.size() && Fold(s_[i_ + k]) == word[k]) ++k;
    if (word[k] || (i_ + k < s_.size() && IsColumnChar(s_[i_ + k]))) {
      Fail(Text(u"expected ") + word);
    }
    i_ += k;
  }
  template <class Pred>
  Text Token(Pred ok) {
    size_t start = i_;
    while (i_ < s_.size() && ok(s_[i_])) ++i_;
    return s_.substr(start, i_ - start);
  }

  const Text& s_;
  size_t i_ = 0;
};

}  // namespace

Query ParseQuery(const Text& sql) { return Parser(sql).Run(); }

}  // namespace ledra::dbf
