// The ARM DLLs' export directory, written out field by field. lld, which
// links them, would make one from TolvaneWAVTimeStretch.def as well, but with
// ordinal base 0 (an empty slot before ordinal 1) and the file's own name in
// place of the module name: this is the table the x64 and x86 DLLs have,
// which GNU ld makes from the .def. Keep the two the same.
//
// On 32-bit ARM, lld itself sets the low bit of a Thumb function's address
// (Thumb code is all that Windows runs there).
asm(".section .edata,\"dr\"\n"
    ".p2align 2\n"
    ".long 0\n"                      // characteristics
    ".long 0\n"                      // time stamp
    ".short 0\n"                     // major version
    ".short 0\n"                     // minor version
    ".rva tolvane_export_module\n"   // the module's name
    ".long 1\n"                      // ordinal base
    ".long 4\n"                      // address table entries
    ".long 4\n"                      // names
    ".rva tolvane_export_addresses\n"
    ".rva tolvane_export_names\n"
    ".rva tolvane_export_ordinals\n"
    // By ordinal, from the base on.
    "tolvane_export_addresses:\n"
    ".rva WAVStrech\n"
    ".rva SoundRecorderStart\n"
    ".rva SoundRecorderStop\n"
    ".rva SoundRecorderNextFile\n"
    // Sorted, for the loader's binary search; beside each, its slot in the
    // address table.
    "tolvane_export_names:\n"
    ".rva tolvane_export_name_next_file\n"
    ".rva tolvane_export_name_start\n"
    ".rva tolvane_export_name_stop\n"
    ".rva tolvane_export_name_stretch\n"
    "tolvane_export_ordinals:\n"
    ".short 3\n"
    ".short 1\n"
    ".short 2\n"
    ".short 0\n"
    "tolvane_export_module: .asciz \"TOLVANEWAVTIMESTRETCH.dll\"\n"
    "tolvane_export_name_next_file: .asciz \"SoundRecorderNextFile\"\n"
    "tolvane_export_name_start: .asciz \"SoundRecorderStart\"\n"
    "tolvane_export_name_stop: .asciz \"SoundRecorderStop\"\n"
    "tolvane_export_name_stretch: .asciz \"WAVStrech\"\n"
    ".text\n");
