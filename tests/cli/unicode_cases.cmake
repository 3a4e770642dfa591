# --- file names beyond ASCII: every subcommand that takes a path -------------
# Windows hands a program its arguments in the ANSI code page and opens narrow
# names in it too; these names survive only where the tool reads the wide
# command line and opens wide paths.
gcuproto_cli_test(unicode_decode ARGS decode Command 命令.bin -o 解码.txt
  COPY command.bin 命令.bin OUTPUT 解码.txt GOLDEN samples/command.txt)
gcuproto_cli_test(unicode_encode ARGS encode Command команда.txt -o команда.bin
  COPY command.txt команда.txt OUTPUT команда.bin GOLDEN samples/command.bin)
gcuproto_cli_test(unicode_firmware ARGS firmware 固件.bin COPY firmware.bin 固件.bin
  STDOUT "^file: +固件.bin .197 bytes.\n")
gcuproto_cli_test(unicode_blackbox_info ARGS blackbox info лог.bin COPY blackbox.bin лог.bin
  STDOUT "^file: +лог.bin .105 bytes.\n")
gcuproto_cli_test(unicode_blackbox_export ARGS blackbox export лог.bin --format csv -o 日志.csv
  COPY blackbox.bin лог.bin OUTPUT 日志.csv GOLDEN blackbox_export.csv)
gcuproto_cli_test(unicode_blackbox_cat ARGS blackbox cat лог.bin 日志.bin -o 合并.bin
  COPY blackbox.bin лог.bin COPY blackbox.bin 日志.bin OUTPUT 合并.bin GOLDEN blackbox_cat.bin)
gcuproto_cli_test(unicode_blackbox_recover ARGS blackbox recover лог.bin -o 日志.bin
  COPY blackbox.bin лог.bin OUTPUT 日志.bin GOLDEN samples/blackbox.bin
  STDERR "^лог.bin: kept 3 logger and 2 CAN lines, 105 of 105 bytes\nлог.bin: nothing dropped")
# An error names the file as the user wrote it.
gcuproto_cli_test(unicode_missing ARGS blackbox info 缺失.bin STATUS 1
  STDERR "^gcuproto: 缺失.bin: No such file or directory\n$")
