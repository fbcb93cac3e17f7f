#pragma once

// Makes the process safe to run before anything is printed or opened.
void prepareProcess();
