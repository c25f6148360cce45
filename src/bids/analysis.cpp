#include "bids/analysis.h"

#include <algorithm>
#include <cstdio>

#include "bids/confounds.h"
#include "bids/contrasts.h"
#include "bids/events.h"
#include "bids/layout.h"
#include "bids/metadata.h"
#include "bids/output_files.h"
#include "bids/program_runner.h"
#include "glm/hrf_file.h"
#include "glm/state.h"
#include "numerics/text_lines.h"

namespace fs = std::filesystem;

namespace {

// A run with everything its analysis needs.
struct PreparedRun {
    const BidsRun *run;
    RunTiming timing;
    RunEvents events;
    ConfoundTable confounds;
};

PreparedRun prepare_run(const BidsOptions &o, const BidsRun &run, float irf_resolution) {
    PreparedRun prepared{&run, read_run_timing(o.root, run), {}, {}};
    const std::vector<fs::path> events = inherited_files(o.root, run.image, "events", ".tsv");
    if (events.empty()) throw BidsError("no events file applies to " + run.image.string());
    // Tables do not merge: the one nearest the run applies.
    prepared.events = convert_events(read_tsv(events.back()), fine_grid_step(prepared.timing.tr, irf_resolution));
    if (o.use_confounds())
        prepared.confounds = select_confounds(read_tsv(find_confounds_file(o.root, run, o.confounds_file)), o.confounds,
                                              prepared.timing.volumes);
    return prepared;
}

// A name the control file holds as one word of a line.
std::string control_word(const std::string &name) {
    if (name.find_first_of(" \t#") != std::string::npos)
        throw BidsError("the path " + name + " holds a blank or '#', which a control file cannot");
    if (name.size() >= NAME_SIZE) throw BidsError("the path " + name + " is too long for a control file");
    return name;
}

std::vector<Contrast> session_contrasts(const BidsOptions &o, const Identifiers &ids,
                                        const std::vector<std::string> &present, const std::string &where) {
    std::vector<Contrast> contrasts;
    if (o.contrasts.empty())
        for (const std::string &type : present)
            contrasts.push_back({type, std::string(1, ids.of_trial_type(type)), file_name_of(type), 1, {type}});
    for (const std::string &text : o.contrasts) {
        contrasts.push_back(parse_contrast(text, ids));
        for (const std::string &type : contrasts.back().trial_types)
            if (std::find(present.begin(), present.end(), type) == present.end())
                throw BidsError("the contrast '" + text + "' uses trial type " + type + ", which has no events in " +
                                where);
    }
    if (contrasts.empty()) throw BidsError("no events of any trial type in " + where);
    if (contrasts.size() > MAX_CONDITIONS)
        throw BidsError(std::to_string(contrasts.size()) + " contrasts; the program tests at most " +
                        std::to_string(MAX_CONDITIONS));
    check_distinct(contrasts);
    return contrasts;
}

void analyse_session(const BidsOptions &o, const std::string &participant, const BidsSession &session,
                     const std::vector<PreparedRun> &runs, const Identifiers &ids) {
    const std::string where = "sub-" + participant + (session.label.empty() ? "" : " ses-" + session.label);
    const fs::path dir = o.out / ("sub-" + participant) / (session.label.empty() ? "" : "ses-" + session.label);
    fs::create_directories(dir);
    // The program joins the runs on one time axis, which takes one TR.
    const auto tr_of = [](const PreparedRun &r) {
        char text[64];
        std::snprintf(text, sizeof text, " (TR %g s, from ", r.timing.tr);
        return r.run->image.string() + text + r.timing.tr_source + ")";
    };
    for (const PreparedRun &r : runs)
        if (static_cast<float>(r.timing.tr) != static_cast<float>(runs[0].timing.tr))
            throw BidsError("the runs " + tr_of(runs[0]) + " and " + tr_of(r) + " differ in TR");

    std::vector<std::string> present;
    for (const std::string &type : ids.trial_types)
        for (const PreparedRun &r : runs)
            if (r.events.stimuli.count(type) && std::find(present.begin(), present.end(), type) == present.end())
                present.push_back(type);
    const std::vector<Contrast> contrasts = session_contrasts(o, ids, present, where);
    remove_named_outputs(dir, contrasts);

    std::string control =
        "# Written by fmriglm-bids: " + where + ", task " + o.task + ", data set " + o.root.string() + "\n";
    std::string run_lines;
    for (const PreparedRun &r : runs) {
        const std::string event_file = r.run->stem + "_events.glm";
        write_whole_file(dir / event_file, event_file_text(r.timing.tr, r.events, ids, r.confounds.columns.size()));
        run_lines += control_word(r.run->image.string()) + " " + control_word(event_file);
        if (!r.confounds.columns.empty()) {
            const std::string table_file = r.run->stem + "_confounds.txt";
            write_whole_file(dir / table_file, table_file_text(r.confounds));
            run_lines += ' ';
            run_lines += control_word(table_file);
        }
        run_lines += "\n";
        for (const std::string &note : r.events.notes) control += "# " + note + "\n";
        for (const std::string &note : r.confounds.notes) control += "# " + note + "\n";
    }
    std::string conditions = "conditions";
    for (const Contrast &c : contrasts) conditions += " " + c.condition;
    if (conditions.size() >= LINE_BUFFER_SIZE) throw BidsError("the contrasts make too long a conditions line");
    // report.html is headed by the analysis and the trial types of the event identifiers.
    std::string title = where + ", task " + o.task + ":";
    for (const std::string &type : present) title += std::string(" ") + ids.of_trial_type(type) + " = " + type + ",";
    title.pop_back();
    if (title.size() >= LINE_BUFFER_SIZE - 8 || title.find('#') != std::string::npos)
        title = where + ", task " + o.task;
    control += o.model_lines() + "z-maps\nreport " + title + "\n" + conditions + "\nruns:\n" + run_lines;
    write_whole_file(dir / "analysis.glm", control);

    const fs::path log = dir / "fmriglm.log";
    const std::string program = analysis_program();
    const int status = run_program_in(program, {"analysis.glm"}, dir, log);
    if (status != 0) {
        const std::string error = first_error_line(log);
        throw BidsError(where + ": " + program + (status < 0 ? " could not run or was stopped" : " failed") +
                        (error.empty() ? "" : ": " + error) + " (log: " + log.string() + ")");
    }
    name_maps(dir, contrasts);
    write_whole_file(dir / "contrasts.tsv",
                     contrasts_tsv(contrasts, recorded_dof(dir / ("S-" + contrasts[0].file_name + ".nii"))));
}

void write_mapping(const fs::path &file, const Identifiers &ids) {
    std::string text = "identifier\tname\tkind\n";
    for (const std::string &type : ids.trial_types)
        text += std::string(1, ids.of_trial_type(type)) + "\t" + type + "\ttrial_type\n";
    for (std::size_t c = 0; c < ids.confounds.size(); ++c)
        text += std::string(1, ids.of_confound(c)) + "\t" + ids.confounds[c] + "\tconfound\n";
    write_whole_file(file, text);
}

}  // namespace

void analyse_participant(const BidsOptions &o, const std::string &participant) {
    const std::vector<BidsSession> sessions = find_sessions(o.root, participant, o.task, o.sessions);
    if (sessions.empty())
        throw BidsError("no runs of task " + o.task + (o.sessions.empty() ? "" : " in the sessions asked for"));
    const float irf_resolution = GLM_irf_resolution(o.irf.c_str());
    if (!(irf_resolution > 0.0f))
        throw BidsError("the IRF " + o.irf + " is neither a built-in response nor a readable IRF file");

    std::vector<std::vector<PreparedRun>> prepared;
    Identifiers ids;
    for (const BidsSession &session : sessions) {
        prepared.emplace_back();
        for (const BidsRun &run : session.runs) {
            prepared.back().push_back(prepare_run(o, run, irf_resolution));
            const PreparedRun &r = prepared.back().back();
            ids.add_trial_types(r.events.types);
            for (const std::string &note : r.events.notes)
                std::printf("sub-%s: %s\n", participant.c_str(), note.c_str());
            for (const std::string &note : r.confounds.notes)
                std::printf("sub-%s: %s\n", participant.c_str(), note.c_str());
            if (o.use_confounds() && ids.confounds.empty()) ids.confounds = r.confounds.columns;
            if (r.confounds.columns != ids.confounds)
                throw BidsError("the confounds tables of " + prepared[0][0].run->image.string() + " and " +
                                run.image.string() + " have different columns; choose them with --confounds");
        }
    }
    ids.check_capacity();
    fs::create_directories(o.out / ("sub-" + participant));
    write_mapping(o.out / ("sub-" + participant) / "events.tsv", ids);
    // Every session is analysed, whether or not an earlier one failed.
    std::string failures;
    for (std::size_t s = 0; s < sessions.size(); ++s) {
        try {
            analyse_session(o, participant, sessions[s], prepared[s], ids);
        } catch (const std::exception &error) {
            failures += (failures.empty() ? "" : "; ") + std::string(error.what());
        }
    }
    if (!failures.empty()) throw BidsError(failures);
}
