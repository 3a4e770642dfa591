# The tool's treatment of output and input paths, and text input as editors
# save it (included from CMakeLists.txt).
add_executable(gcuproto_cli_io_tests io_test.cc)
target_link_libraries(gcuproto_cli_io_tests PRIVATE gcuproto_test_support GTest::gtest_main)
target_compile_definitions(gcuproto_cli_io_tests PRIVATE
  "GCUPROTO_CLI_TOOL=\"${cli_tool}\"" "GCUPROTO_SAMPLES=\"${cli_samples}\"")
gcuproto_target(gcuproto_cli_io_tests)
gtest_discover_tests(gcuproto_cli_io_tests TEST_PREFIX cli.io. DISCOVERY_TIMEOUT 60
  PROPERTIES FIXTURES_REQUIRED gcuproto_cli)

# Pasted packets, dumps, and text from other editors.
gcuproto_cli_test(hex_two_packets ARGS decode Command --in hex two_packets.hex STATUS 1
  STDERR "^gcuproto: two_packets.hex: 2 lines of hex .* look like separate packets. decode one message per line with --each-line")
gcuproto_cli_test(hex_each_line ARGS decode Command --in hex --each-line --oneline two_packets.hex
  STDOUT "^version: 1 ping { seq_no: 7 }\nversion: 1 ping { seq_no: 8 }\n$")
gcuproto_cli_test(hex_each_line_binary ARGS decode Command --each-line command.bin STATUS 2 STDERR "--in hex or --in base64")
gcuproto_cli_test(hex_xxd ARGS decode Command --in hex command.xxd GOLDEN samples/command.txt)
gcuproto_cli_test(hex_hexdump ARGS decode Command --in hex command.hexdump GOLDEN samples/command.txt)
gcuproto_cli_test(hex_hexdump_repeats ARGS firmware --in hex aes_key.hexdump STDOUT "AES key: +48 bytes\n")
gcuproto_cli_test(hex_xxd_gap ARGS decode FirmwareFile --in hex gap.xxd STATUS 1
  STDERR "^gcuproto: gap.xxd: line 2 is at offset 0x20 where 0x10 was expected")
gcuproto_cli_test(bom_crlf_text ARGS encode Command bom_crlf.txt --out hex GOLDEN command_out.hex)
gcuproto_cli_test(bom_crlf_json ARGS encode Command --json bom_crlf.json --out hex GOLDEN command_out.hex)
gcuproto_cli_test(bom_crlf_hex ARGS decode Command --in hex bom_crlf.hex GOLDEN samples/command.txt)
gcuproto_cli_test(utf16_text ARGS encode Command utf16.txt STATUS 1
  STDERR "^gcuproto: utf16.txt is UTF-16 text .*save it as UTF-8\n$")
gcuproto_cli_test(json_too_deep ARGS encode Command --json too_deep.json STATUS 1
  STDERR "^gcuproto: too_deep.json:2:505: Message too deep")
gcuproto_cli_test(firmware_not_firmware ARGS firmware command.bin STATUS 1
  STDERR "is not a firmware update file: it holds fields FirmwareFile does not declare")
