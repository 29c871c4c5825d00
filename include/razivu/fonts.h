/*
 * Font installation of the support library.
 *
 * InstallTrueTypeFont and InstallFontResourceFile copy a font file into the
 * FONTS or SYSTEM folder of the Windows directory (expanding an LZ-compressed
 * file on the way), load it into the system font table and enter it in
 * section "fonts" of the system profile under the name read from the file.
 * GetTrueTypeFaceName and ReadFontModuleDescription are those readers.
 *
 * Results are status codes of support.h (0 done, 1 not done), except
 * ReadFontModuleDescription, whose 1 means success. Nothing is pushed onto
 * the error stack.
 *
 * On Linux the Windows directory is C:\WINDOWS below RAZIVU_PREFIX, the system
 * profile is WIN.INI there, LZ files are expanded with libmspack, and the font
 * table is fontconfig: the folder becomes a font folder of the user's
 * configuration and its cache is rebuilt.
 */
#ifndef RAZIVU_FONTS_H
#define RAZIVU_FONTS_H

#include <razivu/export.h>
#include <razivu/support.h>

/* A UTF-16 code unit: WCHAR on Windows, char16_t elsewhere. */
#if defined(_WIN32)
#  include <wchar.h>
typedef wchar_t RazivuWChar;
#elif defined(__cplusplus)
typedef char16_t RazivuWChar;
#else
#  include <uchar.h>
typedef char16_t RazivuWChar;
#endif

/* Code units of the face-name buffer, terminator included. */
#define RAZIVU_FACE_NAME_CAP 256
/* Bytes of the module-description buffer, terminator included. */
#define RAZIVU_DESCRIPTION_CAP 256

RAZIVU_BEGIN_DECLS

/*
 * Installs the TrueType file source_path as C:\WINDOWS\FONTS\<file_name>
 * (Windows directory in upper case) and enters it as "<face> (TrueType)" with
 * the value file_name in upper case, its last three characters "ttf". An
 * installed file of that name is replaced only once the new one has been read
 * and copied. file_name is upper-cased in place once the paths have been
 * found to differ. 1, nothing installed, for a null argument, a file_name of
 * fewer than 3 characters or with a path separator or control character,
 * paths over 255 characters, a face name over 116 code units, source and
 * target being the same path (case-blind), a source without a naming table,
 * or a failed copy or profile write.
 */
RAZIVU_API int32_t InstallTrueTypeFont(const char *source_path, char *file_name);

/*
 * Installs the font resource file source_path as C:\WINDOWS\SYSTEM\<file_name>
 * and enters it under the name behind the colon of its description (plus
 * " (Plotter)" for a vector font) with file_name in upper case as the value.
 * file_name is upper-cased in place first. 1 when the description cannot be
 * read, holds no colon or an empty name, the module has no font directory,
 * the name is entered already, source and target are the same path, or the
 * copy or the profile write fails.
 */
RAZIVU_API int32_t InstallFontResourceFile(const char *source_path, char *file_name);

/*
 * The full font name of a TrueType file (platform 3, name 4; Japanese before
 * German before English) into face_name, RAZIVU_FACE_NAME_CAP code units,
 * cut to 255. 0 with face_name filled, possibly empty; 1 when the file cannot
 * be read, has no naming table among its first 40 tables, or a structure it
 * names lies outside it. face_name is untouched on failure.
 */
RAZIVU_API int32_t GetTrueTypeFaceName(const char *path, RazivuWChar *face_name);

/*
 * The module description of a font resource file into description,
 * RAZIVU_DESCRIPTION_CAP bytes. 1 when it was read, is not empty and the
 * module holds a resource "FONTDIR" of type 7; otherwise 0.
 */
RAZIVU_API int32_t ReadFontModuleDescription(const char *path, char *description);

RAZIVU_END_DECLS

#endif
