// The terms that a contributor accepts when a saved tree is added to the Velmora World Tree;
// the tree browser shows them while its world-tree box is ticked.
#pragma once

namespace tarnix {

constexpr char kSubmissionTerms[] =
    "Before you submit your family tree file, please take a moment to review the terms below. They "
    "define your rights, your responsibilities and the benefits that you receive as a contributor to "
    "the Velmora World Tree, the shared collection of family trees that Velmora compiles from the "
    "files of its contributors."
    "\r\n\r\n"
    "By submitting a GEDCOM file to the Velmora World Tree, you agree to the following:"
    "\r\n\r\n"
    "1. Velmora may reproduce, compile and freely distribute, in any form and by any means, all of "
    "the information in your file about individuals who are no longer living."
    "\r\n\r\n"
    "2. Before doing so, Velmora removes all information about living individuals except their "
    "names. An individual without a death date is taken to be living; an individual without any "
    "birth or death information is taken to be no longer living."
    "\r\n\r\n"
    "3. Velmora may give your name and mailing address to other family history enthusiasts who "
    "wish to contact you about the families that you share, so that you can compare your research "
    "and correct or complete it together."
    "\r\n\r\n"
    "4. You will not submit anything that infringes the rights of others in their works, invades "
    "anyone's privacy, or is defamatory or profane. Velmora may remove any such information, and "
    "any file that contains it, at its sole discretion and without notice to you."
    "\r\n\r\n"
    "5. Your submission gives you no right to compensation of any kind, now or in the future."
    "\r\n\r\n"
    "6. Velmora, Velmora Family Tree and Velmora World Tree are marks of Velmora. Only the "
    "compilation of the Velmora World Tree is protected as a work: you remain free to publish or "
    "distribute your own family information in any way that you choose, and to submit it to any "
    "other collection."
    "\r\n\r\n"
    "7. The general terms and conditions of use of the Velmora web site also apply to your "
    "submission and to every later use of the Velmora World Tree that it makes possible. Where they "
    "differ from these terms, these terms prevail for your submission.";

}  // namespace tarnix
