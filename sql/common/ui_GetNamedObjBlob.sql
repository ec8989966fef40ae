SELECT content AS Content, name AS Name FROM named_objects WHERE object_id = %u
