// One line per command: ZLV_COMMAND(name, function, usage). No include guard: included twice.
ZLV_COMMAND("version", VersionCommand, "version")
ZLV_COMMAND("pdb", PdbCommand, "pdb FILE")
