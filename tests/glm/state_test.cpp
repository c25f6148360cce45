#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "glm/state.h"
#include "numerics/arrays.h"

namespace {

TEST(EventIds, CharactersAndNumbersMapBothWays) {
    const std::string ids = "123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    char c = '?';
    for (int n = 1; n <= 61; ++n) {
        EXPECT_EQ(GLM_EventNumberFromCharID(ids[n - 1]), n);
        ASSERT_EQ(GLM_EventCharIDFromInteger(n, &c), 0);
        EXPECT_EQ(c, ids[n - 1]);
        EXPECT_EQ(GLM_EventCharID(n), c);
    }
    EXPECT_EQ(GLM_EventNumberFromCharID(','), -1);
    for (int byte = 0; byte < 256; ++byte)
        if (byte != ',' && ids.find(static_cast<char>(byte)) == std::string::npos) {
            EXPECT_EQ(GLM_EventNumberFromCharID(static_cast<char>(byte)), 0) << byte;
        }
    for (int n : {0, -1, 62}) {
        c = '?';
        EXPECT_EQ(GLM_EventCharIDFromInteger(n, &c), 1);
        EXPECT_EQ(c, '?');
    }
}

TEST(ModelState, AccessorsAndReset) {
    GLM_input.notify = 1;
    GLM.table[2] = float_matrix(MAX_TABLE_COLUMNS, 4);
    GLM.table_ncols[2] = 3;
    GLM_reset_model_state();
    // notify survives the reset.
    EXPECT_EQ(std::vector<double>({double(GLM_input.notify), double(GLM_input.nbaseline_terms),
                                   double(GLM_input.output_format), GLM_input.AR_smoothing, double(GLM.table_ncols[2]),
                                   double(GLM.drift_correct_terms[61]), GLM.event_scale[5]}),
              std::vector<double>({1, 3, 1, 1, 0, -1, 1}));
    EXPECT_EQ(GLM.table[2], nullptr);
    EXPECT_STREQ(GLM.table_column_name[49], "undefined");

    GLM.nevents = 2;
    GLM.event_number[0] = 12;
    GLM.event_number[1] = 3;
    EXPECT_EQ(std::vector<int>({GLM_get_event_index(3), GLM_get_event_index(4), GLM_get_event_number(1),
                                GLM_get_event_number(2)}),
              std::vector<int>({1, -1, 3, 0}));

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
