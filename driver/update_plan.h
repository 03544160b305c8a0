#pragma once

// One file of the update: the payload it comes from, the directories (inside
// the installation, each inside the one before) created before it is written,
// and its name in the innermost of them.
struct UpdateEntry {
    const char* payload_name;
    const char* subdirs[2]; // unused slots are null
    const char* file_name;
};

// The game's executable: the first file of the plan, and the one whose presence shows an installation.
extern const char GameExecutableName[];

inline constexpr int UpdatePlanSize = 48;

// The files of update 1.04 in the order they are written; the first failure stops the plan.
extern const UpdateEntry UpdatePlan[UpdatePlanSize];
