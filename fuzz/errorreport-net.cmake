# Exception-reporting library: the DNS answer reader and the SMTP reply reader.
pellory_fuzzer(fuzz_dns_answer SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/DnsAnswerFuzz.cpp LIBS errorreport_core)
pellory_fuzzer(fuzz_smtp_reply SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/SmtpReplyFuzz.cpp LIBS errorreport_core)
