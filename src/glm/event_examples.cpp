// The example definitions printed after an error in an event file, one per
// event shape.
#include <cstdio>

#include "glm/event_file.h"
#include "glm/state.h"

namespace {

void print_lines(const char *const *lines) {
    for (; *lines; ++lines) std::printf("%s\n", *lines);
}

}  // namespace

void GLMInternal_describe_event_format(int shape) {
    static const char *const ON_OFF_LINES[] = {
        "30 60       # [ON time] [OFF time] [optional magnitude]",
        "90 120      # [ON time] [OFF time] [optional magnitude]",
        "...         # ... and so on",
        nullptr,
    };
    const char *heading = nullptr;
    const char *first = nullptr;
    const char *const *rest = nullptr;
    switch (shape) {
        case SHAPE_SQUARE:
            heading = "Example of definition for square events:";
            first = "1 square    # [event identifier] [optional event shape]";
            rest = ON_OFF_LINES;
            break;
        case SHAPE_RAMP_UP:
            heading = "Example of definition for ramp events:";
            first = "1 ramp-up   # [event identifier] [event shape]";
            rest = ON_OFF_LINES;
            break;
        case SHAPE_RAMP_DOWN:
            heading = "Example of definition for ramp events:";
            first = "1 ramp-down # [event identifier] [event shape]";
            rest = ON_OFF_LINES;
            break;
        case SHAPE_EXP_DOWN:
            heading = "Example of definition for exponential events:";
            first = "1 exponential-down 10. # [event identifier] [event shape] [time constant for exponential]";
            rest = ON_OFF_LINES;
            break;
        case SHAPE_GAMMA: {
            static const char *const lines[] = {
                "30 1.       # [ON time] [optional magnitude]",
                "90 2.       # [ON time] [optional magnitude]",
                "...         # ... and so on",
                nullptr,
            };
            heading = "Example of definition for gamma events:";
            first = "1 gamma 24. # [event identifier] [event shape] [time constant for gamma]";
            rest = lines;
            break;
        }
        case SHAPE_SIGMOID: {
            static const char *const lines[] = {
                "30 1.         # [ON time] [optional magnitude]",
                "90 2.         # [ON time] [optional magnitude]",
                "...           # ... and so on",
                nullptr,
            };
            heading = "Example of definition for sigmoid events:";
            first = "1 sigmoid 24. # [event identifier] [event shape] [time constant for sigmoid]";
            rest = lines;
            break;
        }
        case SHAPE_DRUG_IRF:
            heading = "Example of definition for drug-IRF events:";
            first = "1 drug-IRF 24. # [event identifier] drug-IRF [tau1] [optional tau2]";
            rest = ON_OFF_LINES;
            break;
        case SHAPE_TABLE:
            heading = "Example of definition for table events:";
            first = "1 table 2  # [event identifier] table [column # in table]";
            break;
        case SHAPE_BASELINE0:
            heading = "Example of definition for baseline '0' events:";
            first = "1 baseline 0  # [event identifier] baseline [polynomial order]";
            break;
        case SHAPE_BASELINE1:
            heading = "Example of definition for baseline '1' events:";
            first = "1 baseline 1  # [event identifier] baseline [polynomial order]";
            break;
        case SHAPE_BASELINE2:
            heading = "Example of definition for baseline '2' events:";
            first = "1 baseline 2  # [event identifier] baseline [polynomial order]";
            break;
        case SHAPE_BASELINE3:
            heading = "Example of definition for baseline '3' events:";
            first = "1 baseline 3  # [event identifier] baseline [polynomial order]";
            break;
        case SHAPE_BASELINE_EXP_SAT:
            heading = "Example of definition for baseline-exp-sat events:";
            first = "1 baseline-exp-sat 10  # [event identifier] baseline-exp-sat [tau for exponential]";
            break;
        case SHAPE_SINE: {
            static const char *const lines[] = {"This is usually used in conjunction with a cosine event.", nullptr};
            heading = "Example of definition for sinusoidal events:";
            first = "1 sine 30  # [event identifier] sine [period]";
            rest = lines;
            break;
        }
        case SHAPE_COSINE: {
            static const char *const lines[] = {"This is usually used in conjunction with a sine event.", nullptr};
            heading = "Example of definition for sinusoidal events:";
            first = "1 cosine 30  # [event identifier] sine [period]";
            rest = lines;
            break;
        }
        case SHAPE_INTERACTION:
            heading = "Example of definition for interaction events (product of 2 events):";
            first = "I interaction 1 2  # [event identifier] interaction [event1] [event2]";
            break;
        default:
            return;
    }
    std::printf("\n%s\n%s\n", heading, first);
    if (rest) print_lines(rest);
}
