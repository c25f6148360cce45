#include <gtest/gtest.h>

#include <cstring>

#include "glm/state.h"
#include "support/exit_output.h"
#include "numerics/arrays.h"

namespace {

TEST(EventIds, CharactersMapToEventNumbers) {
    EXPECT_EQ(GLM_EventNumberFromCharID('1'), 1);
    EXPECT_EQ(GLM_EventNumberFromCharID('9'), 9);
    EXPECT_EQ(GLM_EventNumberFromCharID('a'), 10);
    EXPECT_EQ(GLM_EventNumberFromCharID('z'), 35);
    EXPECT_EQ(GLM_EventNumberFromCharID('A'), 36);
    EXPECT_EQ(GLM_EventNumberFromCharID('Z'), 61);
    EXPECT_EQ(GLM_EventNumberFromCharID(','), -1);
    for (char c : {'0', '-', ':', ' ', '+', '\0'}) EXPECT_EQ(GLM_EventNumberFromCharID(c), 0) << int(c);
    for (int byte = 128; byte < 256; ++byte) EXPECT_EQ(GLM_EventNumberFromCharID(static_cast<char>(byte)), 0);
}

TEST(EventIds, NumbersMapBackToCharacters) {
    char c = '?';
    for (int n : {0, -1, 62}) {
        EXPECT_EQ(GLM_EventCharIDFromInteger(n, &c), 1);
        EXPECT_EQ(c, '?');
    }
    for (int n = 1; n <= 61; ++n) {
        ASSERT_EQ(GLM_EventCharIDFromInteger(n, &c), 0);
        EXPECT_EQ(GLM_EventNumberFromCharID(c), n);
        EXPECT_EQ(GLM_EventCharID(n), c);
    }
    EXPECT_EXIT_PRINTS(GLM_EventCharID(62), 1,
                "Programming error: event number 62 apparently is not defined!");
}

TEST(ModelState, AccessorsAndReset) {
    GLM_input.notify = 1;
    GLM.table[2] = float_matrix(MAX_TABLE_COLUMNS, 4);
    GLM.table_ncols[2] = 3;
    GLM_reset_model_state();
    EXPECT_EQ(GLM_input.notify, 1);  // survives the reset
    EXPECT_EQ(GLM_input.nbaseline_terms, 3);
    EXPECT_EQ(GLM_input.output_format, 1);
    EXPECT_EQ(GLM_input.AR_smoothing, 1.0f);
    EXPECT_EQ(GLM.table[2], nullptr);
    EXPECT_EQ(GLM.table_ncols[2], 0);
    EXPECT_STREQ(GLM.table_column_name[49], "undefined");
    EXPECT_EQ(GLM.drift_correct_terms[61], -1);
    EXPECT_EQ(GLM.event_scale[5], 1.0f);

    GLM.nevents = 2;
    GLM.event_number[0] = 12;
    GLM.event_number[1] = 3;
    EXPECT_EQ(GLM_get_event_index(3), 1);
    EXPECT_EQ(GLM_get_event_index(4), -1);
    EXPECT_EQ(GLM_get_event_number(1), 3);
    EXPECT_EQ(GLM_get_event_number(2), 0);

    GLM.nruns = 1;
    GLM.tr[0] = 2.5f;
    float tr = -1.0f;
    EXPECT_EQ(GLM_get_tr(1, &tr), 1);
    EXPECT_EQ(tr, -1.0f);
    EXPECT_EQ(GLM_get_tr(-1, &tr), 1);
    EXPECT_EQ(GLM_get_tr(0, &tr), 0);
    EXPECT_EQ(tr, 2.5f);

    // 100 time points, 10 excluded, 6 basis functions.
    OwnedVector<int> include(100);
    for (int t = 0; t < 100; ++t) include[t] = (t >= 40 && t < 50) ? 0 : 1;
    GLM.include = include.get();
    GLM.ntime = 100;
    GLM.nbasis = 6;
    GLM.DOF = 1234.0f;  // ignored by the count
    EXPECT_EQ(GLM_get_DOF(), 84);
    GLM.include = nullptr;
}

}  // namespace
