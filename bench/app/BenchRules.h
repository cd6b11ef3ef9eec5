#pragma once

// Ten alarm rules of the kinds an operator writes, none matching a call record:
// the cost of matching is that of lines that pass every rule.
inline const char* const kBenchAlarmRules = "# ten rules\n"
                                            "critical\n"
                                            "major .* (fail|down)\n"
                                            "power supply\n"
                                            "\\bTRK \\d+ LOST\\b\n"
                                            "^ALM \n"
                                            "\xD0\xB0\xD0\xB2\xD0\xB0\xD1\x80\xD0\xB8\xD1\x8F\n"
                                            "fan fail\n"
                                            "(link|trunk) down\n"
                                            "overheat|temperature\n"
                                            "shelf [a-d] .* error\n";
