SELECT admin_id AS AdminID FROM administrators WHERE admin_name = '%s'
