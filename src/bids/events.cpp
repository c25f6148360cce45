#include "bids/events.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "bids/names.h"
#include "glm/state.h"

std::string number_text(double value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, static_cast<float>(value));
    return std::string(text, result.ptr);
}

namespace {

std::string seconds(double value) { return number_text(value) + " s"; }

}  // namespace

void Identifiers::add_trial_types(const std::vector<std::string> &types) {
    for (const std::string &type : types)
        if (std::find(trial_types.begin(), trial_types.end(), type) == trial_types.end()) trial_types.push_back(type);
}

char Identifiers::of_trial_type(const std::string &type) const {
    const auto it = std::find(trial_types.begin(), trial_types.end(), type);
    return of_number(static_cast<std::size_t>(it - trial_types.begin()) + 1);
}

char Identifiers::of_number(std::size_t n) {
    char id = '?';
    GLM_EventCharIDFromInteger(static_cast<int>(n), &id);
    return id;
}

void Identifiers::check_capacity() const {
    const std::size_t events = trial_types.size() + confounds.size();
    if (events > MAX_EVENTS - 1)
        throw BidsError(std::to_string(trial_types.size()) + " trial types and " + std::to_string(confounds.size()) +
                        " confounds make " + std::to_string(events) + " events; the model holds " +
                        std::to_string(MAX_EVENTS - 1));
    if (confounds.size() > MAX_TABLE_COLUMNS)
        throw BidsError(std::to_string(confounds.size()) + " confound columns; the model holds " +
                        std::to_string(MAX_TABLE_COLUMNS));
}

double fine_grid_step(double tr, float irf_resolution) {
    const float TR = static_cast<float>(tr);
    if (!(irf_resolution > 0.0f)) return TR;
    const int S = static_cast<int>(static_cast<long double>(TR) / irf_resolution + 0.5L);
    if (S < 1)
        throw BidsError("the IRF time step (" + seconds(irf_resolution) + ") is longer than the TR (" + seconds(tr) +
                        ")");
    return TR / static_cast<float>(S);
}

RunEvents convert_events(const TsvTable &table, double step) {
    const int onset = table.column("onset"), duration = table.column("duration");
    if (onset < 0 || duration < 0) throw BidsError(table.source + " needs the columns onset and duration");
    const int type = table.column("trial_type");
    const int magnitude = table.column("modulation") >= 0 ? table.column("modulation") : table.column("amplitude");

    RunEvents events;
    std::vector<int> missing, before, cut;
    for (std::size_t i = 0; i < table.rows.size(); ++i) {
        const std::vector<std::string> &row = table.rows[i];
        if (is_missing(row[onset]) || is_missing(row[duration]) || (type >= 0 && is_missing(row[type])) ||
            (magnitude >= 0 && is_missing(row[magnitude]))) {
            missing.push_back(table.line(i));
            continue;
        }
        double on = cell_number(table, i, onset);
        const double length = cell_number(table, i, duration);
        const double m = magnitude >= 0 ? cell_number(table, i, magnitude) : 1.0;
        if (length < 0.0)
            throw BidsError(table.source + " line " + std::to_string(table.line(i)) + ": negative duration");
        double off = on + length;
        if (length < step) {
            const double sample = std::nearbyint(on / step);
            on = (sample - 0.25) * step;
            off = (sample + 0.25) * step;
        }
        if (off <= 0.0) {
            before.push_back(table.line(i));
            continue;
        }
        if (on < 0.0) {
            if (length >= step) cut.push_back(table.line(i));
            on = 0.0;
        }
        const std::string name = type >= 0 ? row[type] : "trial";
        if (!events.stimuli.count(name)) events.types.push_back(name);
        events.stimuli[name].push_back({on, off, m});
    }
    for (auto &[name, list] : events.stimuli) {
        std::stable_sort(list.begin(), list.end(), [](const Stimulus &a, const Stimulus &b) { return a.on < b.on; });
        for (std::size_t k = 1; k < list.size(); ++k)
            if (list[k].on < list[k - 1].off)
                throw BidsError(table.source + ": two events of trial type " + name + " overlap (from " +
                                seconds(list[k - 1].on) + " and from " + seconds(list[k].on) + ")");
    }
    const std::string source = table.source + ": ";
    if (!missing.empty()) events.notes.push_back(source + "rows with n/a skipped: " + describe_lines(missing));
    if (!before.empty())
        events.notes.push_back(source + "events before the first volume skipped: " + describe_lines(before));
    if (!cut.empty()) events.notes.push_back(source + "events cut at the first volume: " + describe_lines(cut));
    return events;
}

std::string event_file_text(double tr, const RunEvents &events, const Identifiers &ids, std::size_t confounds) {
    std::string text = number_text(tr) + "\n";
    for (const std::string &type : ids.trial_types) {
        const auto it = events.stimuli.find(type);
        if (it == events.stimuli.end()) continue;
        text += std::string("\n") + ids.of_trial_type(type) + " square\n";
        for (const Stimulus &s : it->second) {
            text += number_text(s.on) + ' ' + number_text(s.off);
            if (s.magnitude != 1.0) text += ' ' + number_text(s.magnitude);
            text += '\n';
        }
    }
    for (std::size_t c = 0; c < confounds; ++c)
        text += std::string("\n") + ids.of_confound(c) + " table " + std::to_string(c) + "\n";
    return text;
}
