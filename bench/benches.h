// Registration of each group of benchmark cases.
#pragma once

namespace kdrvx::bench {

void registerReadCases();
void registerWriteCases();
void registerExportCases();
void registerFromCsvCases();

}  // namespace kdrvx::bench
