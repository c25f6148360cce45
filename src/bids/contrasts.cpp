#include "bids/contrasts.h"

#include <cctype>

#include "bids/names.h"

namespace {

struct Term {
    int sign;
    std::string type;
};
using Rows = std::vector<std::vector<Term>>;

// Every reading of a contrast text, stopping at the second one.
class ContrastReader {
public:
    ContrastReader(const std::string &text, const std::vector<std::string> &types) : text_(text), types_(types) {}

    std::vector<Rows> read() {
        rows_.assign(1, {});
        term(0, +1, true);
        return readings_;
    }

private:
    // A trial type name at pos, with the given sign, then an operator or the end.
    void term(std::size_t pos, int sign, bool row_start) {
        if (readings_.size() > 1) return;
        if (row_start && pos < text_.size() && (text_[pos] == '+' || text_[pos] == '-'))
            term(pos + 1, text_[pos] == '-' ? -1 : +1, false);
        for (const std::string &type : types_) {
            if (text_.compare(pos, type.size(), type) != 0) continue;
            const std::size_t end = pos + type.size();
            rows_.back().push_back({sign, type});
            if (end == text_.size()) {
                readings_.push_back(rows_);
            } else if (text_[end] == '+' || text_[end] == '-') {
                term(end + 1, text_[end] == '-' ? -1 : +1, false);
            } else if (text_[end] == ',') {
                rows_.emplace_back();
                term(end + 1, +1, true);
                rows_.pop_back();
            }
            rows_.back().pop_back();
        }
    }

    const std::string &text_;
    const std::vector<std::string> &types_;
    Rows rows_;
    std::vector<Rows> readings_;
};

}  // namespace

std::string file_name_of(const std::string &name) {
    std::string file = name;
    for (char &c : file)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '_' && c != ',' && c != '+' && c != '-')
            c = '_';
    return file;
}

Contrast parse_contrast(const std::string &text, const Identifiers &ids) {
    std::vector<std::string> types;
    for (const std::string &type : ids.trial_types)
        if (!type.empty()) types.push_back(type);
    const std::vector<Rows> readings = ContrastReader(text, types).read();
    std::string known;
    for (const std::string &type : types) known += (known.empty() ? "" : ", ") + type;
    if (readings.empty())
        throw BidsError("the contrast '" + text + "' is not made of the trial types (" + known +
                        ") joined by +, - and ,");
    if (readings.size() > 1)
        throw BidsError("the contrast '" + text + "' can be read in more than one way with the trial types (" + known +
                        ")");

    Contrast contrast{text, "", file_name_of(text), static_cast<int>(readings[0].size()), {}};
    for (const std::vector<Term> &row : readings[0]) {
        std::string plus, minus;
        for (const Term &term : row) {
            (term.sign > 0 ? plus : minus) += ids.of_trial_type(term.type);
            contrast.trial_types.push_back(term.type);
        }
        if (!contrast.condition.empty()) contrast.condition += ',';
        contrast.condition += plus + (minus.empty() ? "" : "-" + minus);
    }
    return contrast;
}

void check_distinct(const std::vector<Contrast> &contrasts) {
    for (std::size_t i = 0; i < contrasts.size(); ++i)
        for (std::size_t j = 0; j < i; ++j) {
            if (contrasts[i].condition == contrasts[j].condition)
                throw BidsError("the contrasts '" + contrasts[j].name + "' and '" + contrasts[i].name +
                                "' are the same test");
            if (contrasts[i].file_name == contrasts[j].file_name)
                throw BidsError("the contrasts '" + contrasts[j].name + "' and '" + contrasts[i].name +
                                "' would give maps of one name, " + contrasts[i].file_name);
        }
}
