#pragma once

// Makes every thread allocate from one memory pool. Call first thing in main, before any
// thread starts. The listing and reading threads allocate little once they run, and a pool
// each kept 5 to 6 MiB more at peak on 200,000 files for no gain in time.
void UseOneMemoryPool();
