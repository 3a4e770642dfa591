# The golden-file cases of gcuproto blackbox. blackbox.bin is the sample;
# blackbox_cut.bin is its first 100 bytes (the last CAN line cut short),
# blackbox_garbage.bin the sample and three zero bytes, blackbox_bad_id.bin one
# CAN line whose standard identifier 0x800 does not fit 11 bits. recover, whose
# report goes to stderr on success, is tested in blackbox_cli_test.cc.

foreach(command info export recover cat)
  gcuproto_cli_test(help_blackbox_${command} ARGS blackbox ${command} --help
    STDOUT "Usage:.*${command}.*Example.*gcuproto blackbox ${command}")
endforeach()

gcuproto_cli_test(blackbox_info ARGS blackbox info blackbox.bin GOLDEN blackbox_info.txt)
gcuproto_cli_test(blackbox_export_csv ARGS blackbox export blackbox.bin --format csv GOLDEN blackbox_export.csv)
gcuproto_cli_test(blackbox_export_csv_stdin ARGS blackbox export - --format csv STDIN blackbox.bin
  GOLDEN blackbox_export.csv)
gcuproto_cli_test(blackbox_export_csv_file ARGS blackbox export blackbox.bin --format csv -o out.csv
  OUTPUT out.csv GOLDEN blackbox_export.csv)
gcuproto_cli_test(blackbox_export_jsonl ARGS blackbox export blackbox.bin --format jsonl GOLDEN blackbox_export.jsonl)
gcuproto_cli_test(blackbox_export_candump ARGS blackbox export blackbox.bin --format candump
  GOLDEN blackbox_export.candump)
# Microsecond ticks, messageId as the identifier (0xF004 extended, 0 standard).
gcuproto_cli_test(blackbox_export_candump_options
  ARGS blackbox export - --format candump --iface vcan1 --time-scale 1e-6 --id-field messageId
  STDIN blackbox.bin GOLDEN blackbox_export_options.candump)
# Joined files read back: every line twice, every sequence number repeated.
gcuproto_cli_test(blackbox_cat ARGS blackbox cat blackbox.bin blackbox.bin -o - | blackbox info -
  GOLDEN blackbox_cat_info.txt)

# --- bad input: one line, status 1, no output file left ----------------------
gcuproto_cli_test(blackbox_info_missing ARGS blackbox info missing.bin STATUS 1
  STDERR "^gcuproto: missing.bin: No such file or directory\n$")
gcuproto_cli_test(blackbox_info_cut ARGS blackbox info blackbox_cut.bin STATUS 1 GOLDEN blackbox_info_cut.txt
  STDERR "^gcuproto: blackbox_cut.bin: damaged at byte 90: CAN line cut short: 8 of 13 bytes present\n$")
foreach(format csv jsonl candump)
  gcuproto_cli_test(blackbox_export_${format}_garbage
    ARGS blackbox export blackbox_garbage.bin --format ${format} -o out.txt STATUS 1
    STDERR "^gcuproto: blackbox_garbage.bin: damaged at byte 105: invalid record key 0\n$")
endforeach()
gcuproto_cli_test(blackbox_export_bad_id ARGS blackbox export blackbox_bad_id.bin --format candump -o out.log
  STATUS 1
  STDERR "^gcuproto: blackbox_bad_id.bin: line at byte 0: CAN line's canId 0x800 does not fit a standard \\(11-bit\\) identifier\n$")
# Windows calls a path through a file missing, where POSIX says ENOTDIR.
set(not_a_directory "Not a directory")
if(WIN32)
  set(not_a_directory "No such file or directory")
endif()
gcuproto_cli_test(blackbox_export_unwritable ARGS blackbox export blackbox.bin --format csv -o blackbox.bin/out.csv
  STATUS 1 STDERR "^gcuproto: cannot write blackbox.bin/out.csv: ${not_a_directory}\n$")
gcuproto_cli_test(blackbox_cat_cut ARGS blackbox cat blackbox.bin blackbox_cut.bin -o joined.bin STATUS 1
  STDERR "^gcuproto: blackbox_cut.bin: damaged at byte 90: .* run 'gcuproto blackbox recover' on it first\n$")

# --- usage errors: status 2 ---------------------------------------------------
gcuproto_cli_test(blackbox_time_scale_zero ARGS blackbox export blackbox.bin --format candump --time-scale 0
  STATUS 2 STDERR "^gcuproto: --time-scale: '0' is not a positive decimal number of seconds per tick\n$")
gcuproto_cli_test(blackbox_no_format ARGS blackbox export blackbox.bin STATUS 2 STDERR "--format is required")
gcuproto_cli_test(blackbox_no_subcommand ARGS blackbox STATUS 2 STDERR "gcuproto blackbox --help")
