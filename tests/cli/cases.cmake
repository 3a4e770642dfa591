# The golden-file cases of the gcuproto tool. Files named in ARGS are the
# samples of examples/samples/ and the inputs of tests/cli/inputs/; GOLDEN
# names a file of tests/cli/golden/ or, as samples/NAME, a sample.

# --- help: each command says what it does, with an example -----------------
gcuproto_cli_test(help ARGS --help STDOUT "Decode, encode and inspect.*Examples:.*gcuproto decode Command")
foreach(command types decode encode firmware)
  gcuproto_cli_test(help_${command} ARGS ${command} --help STDOUT "Usage:.*${command}.*Examples:.*gcuproto ${command}")
endforeach()
gcuproto_cli_test(version ARGS --version STDOUT "^[0-9]+\\.[0-9]+\\.[0-9]+\n$")

# --- types --------------------------------------------------------------------
gcuproto_cli_test(types_list ARGS types GOLDEN types_list.txt)
gcuproto_cli_test(types_oneof ARGS types LoaderCommands GOLDEN types_loader_commands.txt)
gcuproto_cli_test(types_packed ARGS types BlackboxFileLine GOLDEN types_blackbox_file_line.txt)
gcuproto_cli_test(types_enum ARGS types CommandResult GOLDEN types_command_result.txt)
gcuproto_cli_test(types_nested_enum ARGS types GetSerialNumberResp.DeviceMode GOLDEN types_device_mode.txt)
gcuproto_cli_test(types_unknown ARGS types Pnig STATUS 2
  STDERR "^gcuproto: unknown message or enum 'Pnig'. nearest: Ping, Pong\n$")

# --- decode: every sample in every output form --------------------------------
set(sample_types command Command response Response firmware FirmwareFile blackbox BlackboxFile)
while(sample_types)
  list(POP_FRONT sample_types sample type)
  gcuproto_cli_test(decode_${sample} ARGS decode ${type} ${sample}.bin GOLDEN samples/${sample}.txt)
  gcuproto_cli_test(decode_${sample}_stdin ARGS decode ${type} - STDIN ${sample}.bin GOLDEN samples/${sample}.txt)
  gcuproto_cli_test(decode_${sample}_oneline ARGS decode ${type} --oneline ${sample}.bin GOLDEN ${sample}_oneline.txt)
  gcuproto_cli_test(decode_${sample}_json ARGS decode ${type} --json ${sample}.bin GOLDEN ${sample}.json)
  gcuproto_cli_test(encode_${sample} ARGS encode ${type} ${sample}.txt GOLDEN samples/${sample}.bin)
  gcuproto_cli_test(encode_${sample}_file ARGS encode ${type} ${sample}.txt -o out.bin OUTPUT out.bin GOLDEN samples/${sample}.bin)
  # Round trips: each printed form encodes back to the same bytes, each byte
  # form decodes back to the same text.
  gcuproto_cli_test(roundtrip_${sample}_oneline
    ARGS decode ${type} --oneline ${sample}.bin | encode ${type} GOLDEN samples/${sample}.bin)
  gcuproto_cli_test(roundtrip_${sample}_json
    ARGS decode ${type} --json ${sample}.bin | encode ${type} --json GOLDEN samples/${sample}.bin)
  gcuproto_cli_test(roundtrip_${sample}_json_oneline
    ARGS decode ${type} --json --oneline ${sample}.bin | encode ${type} --json GOLDEN samples/${sample}.bin)
  gcuproto_cli_test(roundtrip_${sample}_hex
    ARGS encode ${type} ${sample}.txt --out hex | decode ${type} --in hex GOLDEN samples/${sample}.txt)
  gcuproto_cli_test(roundtrip_${sample}_base64
    ARGS encode ${type} ${sample}.txt --out base64 | decode ${type} --in base64 GOLDEN samples/${sample}.txt)
  gcuproto_cli_test(roundtrip_${sample}_json_base64
    ARGS decode ${type} --json ${sample}.bin | encode ${type} --json --out base64 | decode ${type} --in base64 --oneline
    GOLDEN ${sample}_oneline.txt)
endwhile()

gcuproto_cli_test(encode_hex ARGS encode Command command.txt --out hex GOLDEN command_out.hex)
gcuproto_cli_test(encode_base64 ARGS encode Command command.txt --out base64 GOLDEN command_out.b64)
gcuproto_cli_test(encode_enum_name ARGS encode Response result.txt --out hex GOLDEN result.hex)
# Pasted hex: 0x prefixes and commas (command.hex), colons and capitals.
gcuproto_cli_test(decode_pasted_hex ARGS decode Command --in hex command.hex GOLDEN samples/command.txt)
gcuproto_cli_test(decode_hex_colons ARGS decode Command --in hex command_colons.hex GOLDEN samples/command.txt)

# Fields and enum values the schema does not name are shown, not dropped.
gcuproto_cli_test(decode_unknown_field ARGS decode Command --in hex unknown_field.hex GOLDEN unknown_field.txt)
gcuproto_cli_test(decode_undeclared_enum ARGS decode Response --in hex undeclared_result.hex GOLDEN undeclared_result.txt)
gcuproto_cli_test(decode_undeclared_enum_json ARGS decode Response --json --in hex undeclared_result.hex GOLDEN undeclared_result.json)
gcuproto_cli_test(roundtrip_undeclared_enum
  ARGS decode Response --in hex undeclared_result.hex | encode Response --out hex GOLDEN undeclared_result.hex)

# --- decode --raw -------------------------------------------------------------
gcuproto_cli_test(raw ARGS decode --raw firmware.bin GOLDEN raw_firmware.txt)
gcuproto_cli_test(raw_broken ARGS decode --raw --in hex broken_raw.hex STATUS 1 GOLDEN raw_broken.txt
  STDERR "^gcuproto: broken_raw.hex \\(9 bytes decoded from hex\\): wire format breaks at byte offset 6, field 3: length 5 runs past the end \\(1 byte left\\)\n$")

gcuproto_cli_test(raw_broken_to_file ARGS decode --raw --in hex broken_raw.hex -o dump.txt STATUS 1
  OUTPUT dump.txt STDERR "^gcuproto: broken_raw.hex .*wire format breaks at byte offset 6")

# --- firmware -----------------------------------------------------------------
gcuproto_cli_test(firmware ARGS firmware firmware.bin GOLDEN firmware_summary.txt)
gcuproto_cli_test(firmware_commands ARGS firmware --commands firmware.bin GOLDEN firmware_commands.txt)
gcuproto_cli_test(firmware_loader ARGS firmware --loader firmware.bin GOLDEN firmware_loader.txt)
gcuproto_cli_test(firmware_truncated ARGS firmware --in hex truncated_firmware.hex STATUS 1
  STDERR "^gcuproto: truncated_firmware.hex \\(6 bytes decoded from hex\\) does not parse as FirmwareFile: at byte offset 2, field 5 \\(FirmwareFile.commands\\): length 5 runs past the end \\(2 bytes left\\)\n$")

# --- usage errors: exit status 2 ----------------------------------------------
gcuproto_cli_test(unknown_type ARGS decode Pnig command.bin STATUS 2
  STDERR "^gcuproto: unknown message type 'Pnig'. nearest: Ping, Pong\n$")
gcuproto_cli_test(unknown_type_case ARGS encode command command.txt STATUS 2
  STDERR "^gcuproto: unknown message type 'command'. nearest: Command, CommandData, CommandAesKey\n$")
gcuproto_cli_test(enum_as_type ARGS decode CommandResult command.bin STATUS 2
  STDERR "^gcuproto: 'CommandResult' is an enum, not a message type\n$")
gcuproto_cli_test(unknown_subcommand ARGS decod Command STATUS 2
  STDERR "^gcuproto: unknown subcommand 'decod'. nearest: decode\n$")
gcuproto_cli_test(no_subcommand ARGS STATUS 2 STDERR "^gcuproto: .*subcommand is required")
gcuproto_cli_test(bad_input_form ARGS decode Command --in hux command.bin STATUS 2
  STDERR "^gcuproto: --in: hux not in {base64,binary,hex}")
gcuproto_cli_test(decode_without_type ARGS decode STATUS 2 STDERR "^gcuproto: decode needs a TYPE, or --raw\n$")
gcuproto_cli_test(encode_without_type ARGS encode STATUS 2 STDERR "^gcuproto: TYPE is required")
gcuproto_cli_test(raw_with_type ARGS decode --raw Command command.bin STATUS 2
  STDERR "^gcuproto: decode --raw takes no TYPE, only a FILE\n$")
gcuproto_cli_test(raw_json ARGS decode --raw --json command.bin STATUS 2
  STDERR "^gcuproto: decode --raw prints text format only, not --json\n$")

# --- bad input: exit status 1, one line naming what and where -----------------
gcuproto_cli_test(missing_file ARGS decode Command nothing.bin STATUS 1
  STDERR "^gcuproto: cannot open nothing.bin: No such file or directory\n$")
gcuproto_cli_test(truncated ARGS decode Command --in hex truncated_command.hex STATUS 1
  STDERR "^gcuproto: truncated_command.hex \\(5 bytes decoded from hex\\) does not parse as Command: at byte offset 2, field 7 \\(Command.ping\\): length 9 runs past the end \\(1 byte left\\)\n$")
# Keys and lengths within the parser's limits: at most five bytes, and a field number.
gcuproto_cli_test(six_byte_key ARGS decode DeviceId --in hex six_byte_key.hex STATUS 1
  STDERR "^gcuproto: six_byte_key.hex \\(7 bytes decoded from hex\\) does not parse as DeviceId: at byte offset 0, field key is malformed or cut short\n$")
gcuproto_cli_test(field_number_zero ARGS decode DeviceId --in hex field_number_zero.hex STATUS 1
  STDERR "^gcuproto: field_number_zero.hex \\(2 bytes decoded from hex\\) does not parse as DeviceId: at byte offset 0, field key has field number 0, which no field has\n$")
gcuproto_cli_test(six_byte_length ARGS decode DeviceId --in hex six_byte_length.hex STATUS 1
  STDERR "^gcuproto: six_byte_length.hex \\(7 bytes decoded from hex\\) does not parse as DeviceId: at byte offset 0, field 1 \\(DeviceId.mcuId\\): its length is malformed\n$")
gcuproto_cli_test(truncated_stdin ARGS decode Command STDIN firmware.bin STATUS 1
  STDERR "^gcuproto: stdin \\(197 bytes\\) does not parse as Command: at byte offset [0-9]+, ")
gcuproto_cli_test(bad_utf8 ARGS decode Response --in hex bad_utf8_response.hex STATUS 1
  STDERR "^gcuproto: bad_utf8_response.hex \\(9 bytes decoded from hex\\) does not parse as Response: at byte offset 4, field 1 \\(FatalError.message\\): string is not valid UTF-8\n$")
gcuproto_cli_test(bad_hex_digit ARGS decode Command --in hex bad_digit.hex STATUS 1
  STDERR "^gcuproto: bad_digit.hex: 'z' at line 2, column 4 is not a hex digit\n$")
gcuproto_cli_test(odd_hex_digits ARGS decode Command --in hex odd_digits.hex STATUS 1
  STDERR "^gcuproto: odd_digits.hex: 3 hex digits at line 1, column 4 do not make whole bytes\n$")
gcuproto_cli_test(bad_base64 ARGS decode Command --in base64 bad.b64 STATUS 1
  STDERR "^gcuproto: bad.b64: '!' at line 1, column 8 is not base64\n$")
gcuproto_cli_test(bad_text ARGS encode Command bad_value.txt --out hex STATUS 1
  STDERR "^gcuproto: bad_value.txt:3:11: Expected integer, got: abc \\(reading Command from text format\\)\n$")
gcuproto_cli_test(bad_text_field ARGS encode Ping - --out hex STDIN result.txt STATUS 1
  STDERR "^gcuproto: stdin:1:8: Message type \"Ping\" has no field named \"version\". \\(reading Ping from text format\\)\n$")
gcuproto_cli_test(bad_json_syntax ARGS encode Command --json bad_syntax.json --out hex STATUS 1
  STDERR "^gcuproto: bad_syntax.json:3:24: Expected an object key or }. \\(reading Command from JSON\\)\n$")
gcuproto_cli_test(bad_json_value ARGS encode Command --json bad_value.json --out hex STATUS 1
  STDERR "^gcuproto: bad_value.json:3:12: \\(ping.seq_no\\): invalid value \"x\" for type TYPE_UINT32 \\(reading Command from JSON\\)\n$")
gcuproto_cli_test(bad_json_field ARGS encode Command --json unknown_field.json --out hex STATUS 1
  STDERR "^gcuproto: unknown_field.json:3:12: \\(ping\\) bogus: Cannot find field. \\(reading Command from JSON\\)\n$")
gcuproto_cli_test(json_unknown_fields ARGS decode Command --json --in hex unknown_field.hex STATUS 1
  STDERR "^gcuproto: unknown_field.hex \\(9 bytes decoded from hex\\) holds fields that Command does not declare, which JSON cannot show")
gcuproto_cli_test(encode_bad_utf8 ARGS encode Response bad_utf8.txt --out hex STATUS 1
  STDERR "^gcuproto: cannot encode Response: field FatalError.message holds text that is not valid UTF-8\n$")
# A failed encode leaves an existing output file as it was and no temporary.
gcuproto_cli_test(failed_encode_keeps_file ARGS encode Command bad_value.txt -o command.bin STATUS 1
  OUTPUT command.bin GOLDEN samples/command.bin STDERR "^gcuproto: bad_value.txt:3:11: ")

# Binary output is refused when stdout is a terminal; script(1) provides one.
# Without script(1) or a pseudo-terminal to give it, the test is skipped.
add_test(NAME cli.binary_to_terminal
  COMMAND sh -c "command -v script >/dev/null || { echo 'skipped: script(1) is not installed'; exit 77; }
                 script -qec true /dev/null >/dev/null 2>&1 || { echo 'skipped: no pseudo-terminal can be opened'; exit 77; }
                 out=$(script -qec \"'${cli_tool}' encode Command '${cli_samples}/command.txt'\" /dev/null)
                 status=$?
                 echo \"$out\"
                 test $status -eq 2 && echo \"$out\" | grep -q 'gcuproto: not writing binary to a terminal'")
set_tests_properties(cli.binary_to_terminal PROPERTIES FIXTURES_REQUIRED gcuproto_cli SKIP_RETURN_CODE 77)
# A Windows tool gets no pseudo-terminal from script(1) under wine.
if(WIN32)
  set_tests_properties(cli.binary_to_terminal PROPERTIES DISABLED ON)
endif()

# The README's first command ends by running the samples script.
add_test(NAME cli.run_samples COMMAND sh "${PROJECT_SOURCE_DIR}/examples/run-samples.sh" "${cli_tool}")
set_tests_properties(cli.run_samples PROPERTIES FIXTURES_REQUIRED gcuproto_cli)
# The script runs the tool from sh, which cannot start a Windows program.
if(WIN32)
  set_tests_properties(cli.run_samples PROPERTIES DISABLED ON)
endif()
